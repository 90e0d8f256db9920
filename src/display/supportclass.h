#pragma once

#include "core/bytes.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <functional>
#include <optional>

class DataListModel;
class DataTextView;
class SupportHost;
class frmTimer;
class frmWait;

/// The support object: representations and escapes, framing with the
/// current options, the display routine and the send and receive data path.
/// One shared instance belongs to the main window; the options window and
/// each send window have their own, so cancel and stop flags are per instance.
class SupportClass : public QObject
{
    Q_OBJECT
public:
    explicit SupportClass(QObject *parent = nullptr);
    ~SupportClass() override;

    /// The shared instance of the main window (objSupport); null before load.
    static SupportClass *shared();
    static void setShared(SupportClass *support);

    // --- Representations and escapes (pure; see core/bytes.h).
    static bool IsPrintable(const QByteArray &strChar) { return !strChar.isEmpty() && Bytes::IsPrintable(strChar[0]); }
    static QByteArray GetChar(const QByteArray &strRaw) { return Bytes::GetChar(strRaw); }
    static QByteArray GetChar2(const QByteArray &strRaw) { return Bytes::GetChar2(strRaw); }
    static QByteArray GetAscII(const QByteArray &strRaw) { return Bytes::GetAscII(strRaw); }
    static QByteArray GetHex(const QByteArray &strRaw) { return Bytes::GetHex(strRaw); }
    static QByteArray GetHexDigit(int intHex) { return Bytes::GetHexDigit(intHex); }
    static QByteArray GetBinary(const QByteArray &strRaw) { return Bytes::GetBinary(strRaw); }
    static QByteArray Bin(int intValue) { return Bytes::Bin(intValue); }
    static QByteArray GetOctal(const QByteArray &strRaw) { return Bytes::GetOctal(strRaw); }
    static QString GetTime(bool blnIncMilli) { return Bytes::GetTime(blnIncMilli); }
    static int OnlyNumbersFilter(int KeyAscii) { return Bytes::OnlyNumbersFilter(KeyAscii); }

    /// Escaped text to raw bytes. Long texts stay responsive and cancellable
    /// (progress window after one second); false when cancelled or stopped.
    bool GetRaw(const QByteArray &strText, bool blnConvertEscapedChars, QByteArray &strRaw);
    void StopGettingRaw() { m_stopped = true; }
    bool cancelled() const { return m_cancelled; }
    bool stopped() const { return m_stopped; }

    // --- Framing with the separators of the current options.
    bool GetNextMessage(const QByteArray &strData, qint64 &lngScannedUpTo, QByteArray &strMessage,
                        bool blnIncludeMessageSeparator, qint64 &intConsecMsgSeps);
    bool GetNextField(const QByteArray &strData, qint64 &lngScannedUpTo, QByteArray &strField,
                      bool blnIncludeFieldSeparator);

    // --- Display routine.
    void setHost(SupportHost *host) { m_host = host; }
    SupportHost *host() const { return m_host; }
    bool ShouldDisplay(bool blnInput) const;
    void DisplayData(bool blnIncoming, const QByteArray &strData, DataListModel *list, DataTextView *text,
                     bool blnSocketReady, bool blnShowIcons, bool blnApplyFilter,
                     const QString &strSocketLabel = QString());

    // --- Send and receive data path.
    void SendDataDownSocket(const QByteArray &strData, std::optional<bool> blnThroughToServer = std::nullopt);
    void DataReceivedOnSocket(const QByteArray &strData, const QString &strSocketNum, bool blnReceivedOnClient);
    void ReleaseReceiveBuffer();
    void DestroyReceiveBuffer();
    bool SendToSockets(const QByteArray &strData, std::optional<bool> blnThroughToServer = std::nullopt);
    bool SocketIsReady(std::optional<bool> blnThroughToServer = std::nullopt) const;
    void CloseSockets(std::optional<bool> blnThroughToServer = std::nullopt);

    /// A socket has data (numbered as in SupportHost). True when the path
    /// cannot take it now: the socket is then held, its data stays in it, and
    /// it is served, one read at a time, when its turn comes. Sockets take
    /// turns in the order their data arrived.
    bool HoldArrival(int socket);
    /// Bytes the path holds outside the sockets: the data being worked on and
    /// calls waiting their turn; and the most it has held at once.
    qint64 bytesHeld() const { return m_bytesHeld; }
    qint64 mostBytesHeld() const { return m_mostBytesHeld; }

    bool blnReceivePaused = false;
    QByteArray strReceiveBuffer;
    /// Once the pause buffer holds this much, the sockets are no longer read
    /// until it is released or emptied.
    qsizetype pauseBufferLimit = 16 * 1024 * 1024;

Q_SIGNALS:
    /// An arrival has been handled (shown or put in the pause buffer, and
    /// logged), with its socket label.
    void received(const QString &strSocketNum, const QByteArray &strData);

public:
    /// The display routine's progress window (created on demand); GetRaw
    /// makes a fresh one for each long conversion. Both Cancels set cancelled.
    frmWait *progressWindow();

    /// Work is done in slices of this many milliseconds between event passes.
    static constexpr int kSliceMs = 5;
    /// With field splitting on, a message is cut into at most this many
    /// fields: the last column the list gets shows the rest of the message
    /// unsplit. A list of thousands of columns helps no one, and every
    /// column costs the view work on every row it paints.
    static constexpr int kMaxFieldColumns = 256;

private:
    void runOrDefer(qint64 bytes, std::function<void()> call);
    void receive(const QByteArray &strData, const QString &strSocketNum, bool blnReceivedOnClient);
    void send(const QByteArray &strData, std::optional<bool> blnThroughToServer);
    void scheduleServing();
    void serveNextSocket();

    struct PathCall
    {
        qint64 bytes;
        std::function<void()> call;
    };
    int m_pathDepth = 0;
    // Calls made while another runs (a send from a send window during a
    // display, a release of the pause buffer); run in order when it ends.
    std::deque<PathCall> m_pathQueue;
    // Sockets with data due, in arrival order, each at most once.
    std::deque<int> m_dueSockets;
    bool m_servingQueued = false;
    qint64 m_bytesHeld = 0;
    qint64 m_mostBytesHeld = 0;

    // One DisplayData call; arrivals during a running display wait as these.
    struct PendingDisplay
    {
        bool blnIncoming;
        QByteArray strData;
        QPointer<DataListModel> list;
        QPointer<DataTextView> text;
        bool blnSocketReady;
        bool blnShowIcons;
        bool blnApplyFilter;
        QString strSocketLabel;
    };
    /// False when this object was destroyed while events ran.
    bool runDisplay(const PendingDisplay &job);

    SupportHost *m_host = nullptr;
    QList<PendingDisplay> m_displayQueue;
    bool m_displayRunning = false;
    bool m_progressHooked = false;
    bool m_cancelled = false;
    bool m_stopped = false;
    QPointer<frmWait> m_progress;
    frmTimer *m_tmrProgress = nullptr;
};
