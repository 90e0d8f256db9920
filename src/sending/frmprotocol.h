#pragma once

#include "sending/mergefile.h"

#include <QByteArray>
#include <QPointer>
#include <QWidget>
#include <optional>

class ByteTextEdit;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class frmDetails;
class frmSend;

/// What the protocols window needs of the main window.
class ProtocolHost
{
public:
    virtual ~ProtocolHost() = default;
    /// 0 Client, 1 Server, 2 Pass Through.
    virtual int currentMode() const = 0;
    /// The client socket's state, 0 (Closed) to 9 (Error).
    virtual int clientState() const = 0;
    /// The connect button of the current mode, as if pressed.
    virtual void clickConnect() = 0;
    /// Disconnects the client the way the program does after a message
    /// (an automatic reconnection may follow).
    virtual void disconnectClient() = 0;
    /// Leaves the client disconnected with no reconnection pending.
    virtual void endConnection() = 0;
    /// The shared data path (SendDataDownSocket, no direction).
    virtual void sendData(const QByteArray &bytes) = 0;
};

/// The common protocols window: a library of protocol messages read from
/// Protocols.txt, shown as a tree; the chosen message can be edited and sent,
/// or used as a mail-merge template over the records of a merge file, sent
/// all at once or, in Client mode, one record per connection. One window for
/// the program; closing it only hides it.
class frmProtocol : public QWidget
{
    Q_OBJECT
public:
    explicit frmProtocol(ProtocolHost *host, QWidget *parent = nullptr);
    ~frmProtocol() override;

    static QString libraryPath();
    static QString defaultMergeFile();

    // Controls.
    QTreeWidget *tvwProtocol = nullptr;
    ByteTextEdit *txtMessage = nullptr;
    QCheckBox *chkReplaceEscapedChars = nullptr;
    QLineEdit *txtReplaceFileName = nullptr;
    QPushButton *cmdReplaceFilename = nullptr;
    QPushButton *cmdPreview = nullptr;
    QCheckBox *chkDisconnectAfterMsgTx = nullptr;
    QPushButton *cmdSend = nullptr;
    QToolButton *cmdCopy = nullptr;
    QToolButton *cmdDetails = nullptr;
    QPushButton *cmdPreferences = nullptr;
    QPushButton *cmdClose = nullptr;

    /// A merge with reconnection is running (the merge file is open).
    bool MergeActive = false;
    /// Set when the program shuts down: closing then really closes.
    bool blnAllowUnload = false;

    frmDetails *details() const { return m_details; }
    /// The hidden send window that previews merges (made again if the user closed it).
    frmSend *previewWindow();

    // Called by the main window.
    /// The client socket was found connected: the next record goes out.
    void ConnectionReestablished();
    /// The client socket sent everything: the connection of the record ends.
    void MessageSuccessfullySent();
    /// The client connection failed, the user disconnected it, or the mode
    /// changed: a running merge ends and says why.
    void ClientConnectionFailed();
    void ClientDisconnectedByUser();
    void ModeChanged();

    // Buttons and boxes.
    void cmdSend_Click();
    void cmdCopy_Click();
    void cmdDetails_Click();
    void cmdPreferences_Click();
    void cmdClose_Click();
    void cmdPreview_Click();
    void cmdReplaceFilename_Click();
    void chkReplaceEscapedChars_Click();
    /// The reconnect option: may ask to switch on the options it needs (ask false: the caption only).
    void chkDisconnectAfterMsgTx_Click(bool ask = true);
    /// A node was chosen: a message node's text goes to the box, a group empties it.
    void chooseNode(QTreeWidgetItem *node);

    // Merging.
    /// The template merged with the next record of an open merge file; nothing when none is left.
    std::optional<QByteArray> MergeRecord(MergeFile &input);
    /// Every record of the merge file, merged and joined; empty after a failure (told).
    QByteArray MergeAllRecords();
    bool OpenMergeFile();
    void SendNextMergedMessage();
    void EndMerge();

    void SetUserFont(const QFont &font);

    static constexpr qint64 kMaxMergedBytes = Merge::kMaxMergedBytes;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildUi();
    void loadLibrary();
    void setSendCaption(const QString &caption);
    void applyEnabling();
    void endMerge(const QString &why, bool touchConnection);
    bool reconnectChosen() const;

    ProtocolHost *m_host;
    frmDetails *m_details = nullptr;
    QPointer<frmSend> m_preview;
    MergeFile m_mergeInput;
    // The merge file as the store holds it (saved again only when it changed).
    QString m_savedMergeFile;
    // The record handed over on the present connection, not yet reported sent.
    bool m_recordPending = false;
    bool m_mergingAll = false;
};
