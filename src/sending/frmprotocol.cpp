#include "sending/frmprotocol.h"

#include "core/bytes.h"
#include "core/eventlog.h"
#include "core/itemreader.h"
#include "core/optionssource.h"
#include "core/programfolder.h"
#include "display/frmdetails.h"
#include "options/frmoptions.h"
#include "options/settingsstore.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "ui/standardicons.h"
#include "ui/uiservice.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cerrno>

namespace {
constexpr int kClosed = 0;
constexpr int kConnected = 7;
constexpr int kKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;
// The library is a small text file; anything far larger is not one.
constexpr qint64 kMaxLibraryBytes = 64 * 1024 * 1024;
// Merging all records lets pending events run after this much work.
constexpr qint64 kMergeSliceMs = 20;

const QString kLibraryName = QStringLiteral("Protocols.txt");
const QString kMergeFolder = QStringLiteral("merge files");
const QString kFilter = QStringLiteral("All files (*.*) | *.*");

const QString kReadFailure =
    QStringLiteral("An error occurred while attempting to read the protocol information "
                   "from the database.  The operating system reports: ");
const QString kMergeFailure =
    QStringLiteral("An error occurred while attempting to merge the file. The operating system reports: ");
const QString kOpenFailure =
    QStringLiteral("An error occurred while attempting to open the file. The operating system reports: ");
const QString kCloseFailure =
    QStringLiteral("An error occurred while closing the file. The operating system reports: ");
const QString kReconnectQuestion = QStringLiteral(
    "For this feature to work, the 'Automatically close connection if peer disconnects' and the "
    "'Automatically attempt reconnection after' options both must be enabled.\r\n\r\n"
    "Enable them now?");

const QString kSendCaption = QStringLiteral("&Send");
const QString kStartCaption = QStringLiteral("&Start Sending");
const QString kStopCaption = QStringLiteral("Stop Sending");

struct BusyPointer
{
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
};
} // namespace

QString frmProtocol::libraryPath()
{
    return ProgramFolder::dataFileUserFirst(kLibraryName);
}

QString frmProtocol::defaultMergeFile()
{
    return ProgramFolder::dataFile(kMergeFolder + QStringLiteral("/E-mailing list.txt"));
}

frmProtocol::frmProtocol(ProtocolHost *host, QWidget *parent) : QWidget(parent, Qt::Window), m_host(host)
{
    setObjectName(QStringLiteral("frmProtocol"));
    setWindowTitle(QStringLiteral("Common Protocols"));
    buildUi();

    // 1. The companions, hidden until needed.
    m_details = new frmDetails(this);
    previewWindow();

    // 2. The introduction, until a message is chosen.
    txtMessage->setData(
        Bytes::fromText(QStringLiteral("The information presented in this screen is loaded from the '") +
                        QDir::toNativeSeparators(libraryPath()) +
                        QStringLiteral("' file.\r\n\r\nFeel free to change this data to suit your needs.")));

    // 3. The merge file of the last run.
    m_savedMergeFile = SettingsStore::instance().Read(QStringLiteral("Protocol"), QStringLiteral("File"),
                                                      defaultMergeFile());
    txtReplaceFileName->setText(m_savedMergeFile);

    // 4. The library.
    loadLibrary();
    chkReplaceEscapedChars_Click();
}

frmProtocol::~frmProtocol()
{
    m_mergeInput.close();
}

frmSend *frmProtocol::previewWindow()
{
    if (!m_preview) {
        m_preview = new frmSend(this);
        m_preview->IsNewWindow = true;
    }
    return m_preview;
}

// ---------------------------------------------------------------- building

void frmProtocol::buildUi()
{
    auto named = [](auto *w, const char *name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    tvwProtocol = named(new QTreeWidget, "tvwProtocol");
    tvwProtocol->setHeaderHidden(true);
    tvwProtocol->setColumnCount(1);
    tvwProtocol->setRootIsDecorated(true);
    txtMessage = named(new ByteTextEdit, "txtMessage");

    chkReplaceEscapedChars =
        named(new QCheckBox(QStringLiteral("Replace escaped characters with fields from:")),
              "chkReplaceEscapedChars");
    txtReplaceFileName = named(new QLineEdit, "txtReplaceFileName");
    cmdReplaceFilename = named(new QPushButton(QStringLiteral("...")), "cmdReplaceFilename");
    cmdReplaceFilename->setToolTip(QStringLiteral("Choose the merge file"));
    cmdReplaceFilename->setFixedWidth(
        cmdReplaceFilename->fontMetrics().horizontalAdvance(QStringLiteral("MMM")) + 8);
    cmdPreview = named(new QPushButton(QStringLiteral("Preview...")), "cmdPreview");
    chkDisconnectAfterMsgTx =
        named(new QCheckBox(QStringLiteral("Reconnect after each message is sent. (Client "
                                           "mode only)")),
              "chkDisconnectAfterMsgTx");

    cmdSend = named(new QPushButton(kSendCaption), "cmdSend");
    // Wide enough for every caption it takes, so it never changes size under the pointer.
    int sendWidth = 0;
    for (const QString &c : {kSendCaption, kStartCaption, kStopCaption})
        sendWidth = std::max(sendWidth,
                             cmdSend->fontMetrics().horizontalAdvance(QString(c).remove(QLatin1Char('&'))));
    cmdSend->setMinimumWidth(sendWidth + 32);
    auto toolButton = [&](QStyle::StandardPixmap icon, const QString &tip, const char *name) {
        auto *b = named(new QToolButton, name);
        b->setIcon(sharedStandardIcon(icon));
        b->setToolTip(tip);
        return b;
    };
    cmdCopy = toolButton(QStyle::SP_FileDialogDetailedView, QStringLiteral("Copy to clipboard"), "cmdCopy");
    cmdDetails = toolButton(QStyle::SP_FileDialogInfoView, QStringLiteral("Window details"), "cmdDetails");
    cmdPreferences = named(new QPushButton(QStringLiteral("Options")), "cmdPreferences");
    cmdClose = named(new QPushButton(QStringLiteral("Close")), "cmdClose");
    for (QPushButton *b : {cmdSend, cmdPreview, cmdPreferences, cmdClose, cmdReplaceFilename})
        b->setAutoDefault(false);

    auto *split = new QSplitter(Qt::Horizontal);
    split->addWidget(tvwProtocol);
    split->addWidget(txtMessage);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);

    auto *merge = new QGridLayout;
    merge->addWidget(chkReplaceEscapedChars, 0, 0, 1, 3);
    merge->addWidget(txtReplaceFileName, 1, 0);
    merge->addWidget(cmdReplaceFilename, 1, 1);
    merge->addWidget(cmdPreview, 1, 2);
    merge->addWidget(chkDisconnectAfterMsgTx, 2, 0, 1, 3);
    merge->setColumnStretch(0, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdSend);
    buttons->addWidget(cmdCopy);
    buttons->addWidget(cmdDetails);
    buttons->addStretch(1);
    buttons->addWidget(cmdPreferences);
    buttons->addWidget(cmdClose);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addLayout(merge);
    layout->addLayout(buttons);
    resize(640, 440);

    connect(tvwProtocol, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item) { chooseNode(item); });
    // Choosing by keyboard selects too; the current item the tree sets for
    // itself when it takes the focus is no choice and leaves the text alone.
    connect(tvwProtocol, &QTreeWidget::itemSelectionChanged, this,
            [this] { chooseNode(tvwProtocol->selectedItems().value(0)); });
    connect(txtMessage, &ByteTextEdit::changed, this, [this] { m_details->AddDetails(txtMessage->data()); });
    connect(chkReplaceEscapedChars, &QCheckBox::clicked, this, [this] { chkReplaceEscapedChars_Click(); });
    connect(chkDisconnectAfterMsgTx, &QCheckBox::clicked, this, [this] { chkDisconnectAfterMsgTx_Click(); });
    connect(cmdSend, &QPushButton::clicked, this, [this] { cmdSend_Click(); });
    connect(cmdCopy, &QToolButton::clicked, this, [this] { cmdCopy_Click(); });
    connect(cmdDetails, &QToolButton::clicked, this, [this] { cmdDetails_Click(); });
    connect(cmdPreferences, &QPushButton::clicked, this, [this] { cmdPreferences_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });
    connect(cmdPreview, &QPushButton::clicked, this, [this] { cmdPreview_Click(); });
    connect(cmdReplaceFilename, &QPushButton::clicked, this, [this] { cmdReplaceFilename_Click(); });
}

void frmProtocol::loadLibrary()
{
    const QString path = libraryPath();
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        tw::ui().failure(this, kReadFailure, Merge::openError(path));
        return;
    }
    if (file.size() > kMaxLibraryBytes) {
        tw::ui().failure(
            this, kReadFailure,
            OsError{EFBIG, QStringLiteral("The file is larger than %1 MB, too large for a library of "
                                          "messages.")
                               .arg(kMaxLibraryBytes / (1024 * 1024))});
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        tw::ui().failure(this, kReadFailure, OsError{EIO, file.errorString()});
        return;
    }

    const ItemReader::Records read = ItemReader::readRecords(data, 3);
    const QIcon closedFolder = sharedStandardIcon(QStyle::SP_DirClosedIcon);
    QIcon group = closedFolder;
    group.addPixmap(sharedStandardIcon(QStyle::SP_DirOpenIcon).pixmap(16), QIcon::Selected);
    const QIcon protocol = sharedStandardIcon(QStyle::SP_FileIcon);

    QTreeWidgetItem *groupNode = nullptr;
    QByteArray previousGroup;
    for (qsizetype i = 0; i < read.records.size(); ++i) {
        const QByteArrayList &r = read.records[i];
        const QString n = QString::number(i + 1);
        if (i == 0 || r[0] != previousGroup) {
            groupNode = new QTreeWidgetItem(tvwProtocol, {Bytes::toText(r[0])});
            groupNode->setData(0, kKeyRole, QStringLiteral("R") + n);
            groupNode->setIcon(0, group);
            previousGroup = r[0];
        }
        auto *message = new QTreeWidgetItem(groupNode, {Bytes::toText(r[1])});
        message->setData(0, kKeyRole, QStringLiteral("L") + n);
        message->setData(0, kTagRole, r[2]);
        message->setToolTip(0, message->text(0)); // long names are cut off in a narrow tree
        message->setIcon(0, protocol);
    }

    using Problem = ItemReader::Records::Problem;
    if (read.problem == Problem::UnclosedQuote)
        tw::ui().failure(
            this, kReadFailure,
            OsError{EILSEQ, QStringLiteral("The quoted item that begins on line %1 of '%2' is never "
                                           "closed.")
                                .arg(read.problemLine)
                                .arg(QDir::toNativeSeparators(path))});
    else if (read.problem == Problem::ShortRecord)
        tw::ui().failure(
            this, kReadFailure,
            OsError{ENODATA, QStringLiteral("The record that begins on line %1 of '%2' is cut short "
                                            "by the end of the file.")
                                 .arg(read.problemLine)
                                 .arg(QDir::toNativeSeparators(path))});
}

// ---------------------------------------------------------------- choosing and editing

void frmProtocol::chooseNode(QTreeWidgetItem *node)
{
    if (!node)
        return;
    const QString key = node->data(0, kKeyRole).toString();
    if (key.startsWith(QLatin1Char('L'), Qt::CaseInsensitive))
        txtMessage->setData(node->data(0, kTagRole).toByteArray());
    else
        txtMessage->clear();
}

void frmProtocol::SetUserFont(const QFont &font)
{
    txtMessage->setFont(font);
}

bool frmProtocol::reconnectChosen() const
{
    // Checked and enabled; the box is enabled exactly while the merge box is ticked.
    return chkDisconnectAfterMsgTx->isChecked() && chkReplaceEscapedChars->isChecked();
}

void frmProtocol::setSendCaption(const QString &caption)
{
    cmdSend->setText(caption);
}

void frmProtocol::applyEnabling()
{
    const bool merge = chkReplaceEscapedChars->isChecked();
    const QString why = QStringLiteral("Tick \"Replace escaped characters with fields from:\" first.");
    for (QWidget *w : std::initializer_list<QWidget *>{txtReplaceFileName, cmdReplaceFilename, cmdPreview,
                                                       chkDisconnectAfterMsgTx}) {
        w->setEnabled(merge);
        w->setToolTip(merge ? QString() : why);
    }
    cmdReplaceFilename->setToolTip(merge ? QStringLiteral("Choose the merge file") : why);
    // The running merge keeps the file and the choices it started with.
    if (MergeActive) {
        const QString running = QStringLiteral("A merge is running: press Stop Sending first.");
        for (QWidget *w : std::initializer_list<QWidget *>{chkReplaceEscapedChars, txtReplaceFileName,
                                                           cmdReplaceFilename, chkDisconnectAfterMsgTx}) {
            w->setEnabled(false);
            w->setToolTip(running);
        }
    } else {
        chkReplaceEscapedChars->setEnabled(true);
        chkReplaceEscapedChars->setToolTip(QString());
    }
    // Data without a direction has no place in the Pass Through relay.
    const bool canSend = m_host && (m_host->currentMode() != 2 || MergeActive);
    cmdSend->setEnabled(canSend);
    cmdSend->setToolTip(canSend ? QString()
                                : QStringLiteral("Sending from here needs the Client or Server mode."));
}

void frmProtocol::chkReplaceEscapedChars_Click()
{
    applyEnabling();
    chkDisconnectAfterMsgTx_Click();
}

void frmProtocol::chkDisconnectAfterMsgTx_Click(bool ask)
{
    if (MergeActive) {
        setSendCaption(kStopCaption);
        return;
    }
    if (!reconnectChosen()) {
        setSendCaption(kSendCaption);
        return;
    }
    const OptionsSource &options = tw::options();
    if (ask && (!options.AutoReconnect() || !options.AutoCloseConnection())) {
        frmOptions *window = frmOptions::open(2);
        if (tw::ui().askYesNo(this, kReconnectQuestion, UiService::Icon::Question) && window->model()) {
            window->model()->setCheck(OptionsModel::Check::AutoDisconnect, 1);
            window->model()->setCheck(OptionsModel::Check::AutoReconnect, 1);
        }
    }
    setSendCaption(kStartCaption);
}

void frmProtocol::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        if (isMinimized())
            showNormal();
        // Activation refreshes the enabling and the caption; the options
        // question belongs to a click, not to every return to the window.
        applyEnabling();
        chkDisconnectAfterMsgTx_Click(false);
    }
}

// ---------------------------------------------------------------- merging

std::optional<QByteArray> frmProtocol::MergeRecord(MergeFile &input)
{
    return input.nextRecord(txtMessage->data());
}

QByteArray frmProtocol::MergeAllRecords()
{
    const QString path = txtReplaceFileName->text();
    MergeFile input;
    if (const OsError e = input.open(path); e.isError()) {
        tw::ui().failure(this, kMergeFailure, e);
        return QByteArray();
    }
    QPointer<frmProtocol> self(this);
    BusyPointer pointer;
    m_mergingAll = true;
    QByteArray all;
    QElapsedTimer slice;
    slice.start();
    OsError failure;
    // Events run between slices: the records are merged with the template as it was at the start.
    const QByteArray templ = txtMessage->data();
    while (std::optional<QByteArray> record = input.nextRecord(templ)) {
        if (all.size() + record->size() > kMaxMergedBytes) {
            failure = OsError{EFBIG, QStringLiteral("The merged text would be larger than %1 MB.")
                                         .arg(kMaxMergedBytes / (1024 * 1024))};
            break;
        }
        all += *record;
        if (slice.elapsed() >= kMergeSliceMs) {
            QCoreApplication::processEvents();
            if (!self)
                return QByteArray();
            slice.restart();
        }
    }
    m_mergingAll = false;
    if (!failure.isError())
        failure = input.error();
    input.close();
    if (failure.isError()) {
        tw::ui().failure(this, kMergeFailure, failure);
        return QByteArray();
    }
    return all;
}

bool frmProtocol::OpenMergeFile()
{
    if (const OsError e = m_mergeInput.open(txtReplaceFileName->text()); e.isError()) {
        tw::ui().failure(this, kOpenFailure, e);
        return false;
    }
    MergeActive = true;
    m_recordPending = false;
    setSendCaption(kStopCaption);
    applyEnabling();
    return true;
}

void frmProtocol::SendNextMergedMessage()
{
    if (!MergeActive && !OpenMergeFile())
        return;
    std::optional<QByteArray> record = MergeRecord(m_mergeInput);
    if (!record) {
        if (m_mergeInput.error().isError()) {
            tw::ui().failure(this, kMergeFailure, m_mergeInput.error());
            endMerge(QStringLiteral("the merge file could not be read"), true);
        } else {
            endMerge(QStringLiteral("every record has been sent"), true);
        }
        return;
    }
    m_host->sendData(*record);
    m_recordPending = true;
}

void frmProtocol::EndMerge()
{
    endMerge(QString(), true);
}

void frmProtocol::endMerge(const QString &why, bool touchConnection)
{
    const bool wasActive = MergeActive;
    if (const OsError e = m_mergeInput.close(); e.isError())
        tw::ui().failure(this, kCloseFailure, e);
    MergeActive = false;
    m_recordPending = false;
    if (wasActive && !why.isEmpty())
        tw::events().AddEvent(QStringLiteral("The merge with reconnection has ended: ") + why +
                              QLatin1Char('.'));
    setSendCaption(reconnectChosen() ? kStartCaption : kSendCaption);
    applyEnabling();
    // The connection the merge was cycling is left closed, with no
    // reconnection pending; it is never opened again from here.
    if (wasActive && touchConnection && m_host && m_host->currentMode() == 0)
        m_host->endConnection();
}

void frmProtocol::ConnectionReestablished()
{
    if (!MergeActive)
        return;
    if (m_recordPending) {
        // The connection that carried the last record ended before the
        // record was reported sent: sending the next could skip it, and
        // sending it again could deliver it twice.
        endMerge(QStringLiteral("a connection closed before its record was reported sent"), true);
        return;
    }
    SendNextMergedMessage();
}

void frmProtocol::MessageSuccessfullySent()
{
    if (!MergeActive || !m_recordPending)
        return;
    m_recordPending = false;
    m_host->disconnectClient();
}

void frmProtocol::ClientConnectionFailed()
{
    if (MergeActive)
        endMerge(QStringLiteral("the connection failed"), true);
}

void frmProtocol::ClientDisconnectedByUser()
{
    if (MergeActive)
        endMerge(QStringLiteral("the client was disconnected"), true);
}

void frmProtocol::ModeChanged()
{
    if (MergeActive && m_host && m_host->currentMode() != 0)
        endMerge(QStringLiteral("the mode was changed"), false);
    applyEnabling();
}

// ---------------------------------------------------------------- buttons

void frmProtocol::cmdSend_Click()
{
    if (m_mergingAll || !m_host)
        return;
    if (MergeActive) {
        endMerge(QStringLiteral("stopped by the user"), true);
        return;
    }
    // An empty text has nothing to send, and a failed merge has been told.
    auto handOver = [this](const QByteArray &bytes) {
        if (!bytes.isEmpty())
            m_host->sendData(bytes);
    };
    if (!chkReplaceEscapedChars->isChecked()) {
        handOver(txtMessage->data());
        return;
    }
    if (!chkDisconnectAfterMsgTx->isChecked() || m_host->currentMode() != 0) {
        handOver(MergeAllRecords());
        return;
    }
    chkDisconnectAfterMsgTx_Click();
    switch (m_host->clientState()) {
    case kConnected:
        SendNextMergedMessage();
        break;
    case kClosed:
        if (OpenMergeFile())
            m_host->clickConnect();
        break;
    default:
        tw::ui().message(
            this,
            QStringLiteral("The socket is neither connected or closed.  Place the socket into one of "
                           "these states and retry this operation."),
            UiService::Icon::None);
        break;
    }
}

void frmProtocol::cmdCopy_Click()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(Bytes::toText(txtMessage->data()));
    tw::ui().message(this, QStringLiteral("The data has been copied to the clipboard."),
                     UiService::Icon::Information);
}

void frmProtocol::cmdDetails_Click()
{
    if (!m_details->isVisible()) {
        m_details->show();
        m_details->AddDetails(txtMessage->data());
    }
    m_details->raise();
}

void frmProtocol::cmdPreferences_Click()
{
    frmOptions::open();
}

void frmProtocol::cmdClose_Click()
{
    close();
}

void frmProtocol::cmdPreview_Click()
{
    if (m_mergingAll)
        return;
    QTreeWidgetItem *node = tvwProtocol->selectedItems().value(0);
    if (!node) {
        tw::ui().message(this, QStringLiteral("Please select a protocol."), UiService::Icon::Information);
        return;
    }
    frmSend *preview = previewWindow();
    if (!preview->isVisible())
        preview->show();
    preview->raise();
    const QString stamp =
        QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("dd MMM yy hh:mm"));
    preview->txtTitle->setText(node->text(0) + QStringLiteral(" (") + stamp + QLatin1Char(')'));
    const QByteArray merged = MergeAllRecords();
    if (m_preview)
        m_preview->txtSend->setData(merged);
}

void frmProtocol::cmdReplaceFilename_Click()
{
    SettingsStore &store = SettingsStore::instance();
    const QString key = QStringLiteral("InitReadDir");
    const QString start = store.Read(QStringLiteral("Protocols"), key, ProgramFolder::dataFile(kMergeFolder));
    const QString chosen = tw::ui().openFileName(this, start, kFilter);
    if (chosen.isEmpty())
        return;
    store.Save(QStringLiteral("Protocols"), key, chosen);
    txtReplaceFileName->setText(chosen);
}

void frmProtocol::closeEvent(QCloseEvent *event)
{
    // The merge file is the user's choice; one that could not be kept is told.
    const QString file = txtReplaceFileName->text();
    if (file != m_savedMergeFile) {
        if (const OsError e =
                SettingsStore::instance().Save(QStringLiteral("Protocol"), QStringLiteral("File"), file);
            e.isError())
            tw::ui().failure(this, SettingsStore::kSaveFailure, e);
        else
            m_savedMergeFile = file;
    }
    if (!blnAllowUnload) {
        // The window keeps its tree, text and merge while hidden.
        event->ignore();
        hide();
        return;
    }
    m_details->close();
    if (m_preview)
        m_preview->close();
    m_mergeInput.close();
    event->accept();
}
