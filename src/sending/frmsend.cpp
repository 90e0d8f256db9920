#include "sending/frmsend.h"

#include "core/bytes.h"
#include "core/frmtimer.h"
#include "core/oserror.h"
#include "core/programfolder.h"
#include "display/frmdetails.h"
#include "display/supportclass.h"
#include "options/optionsmodel.h"
#include "options/settingsstore.h"
#include "sending/bytetextedit.h"
#include "sending/sendcontrols.h"
#include "sending/sendschedule.h"
#include "sending/sendstatestore.h"
#include "ui/frmwait.h"
#include "ui/standardicons.h"
#include "ui/twips.h"
#include "ui/uiservice.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <new>

namespace {
constexpr int kWidthTwips = SendWindowState::kMinWidthTwips;
constexpr int kHeightTwips = SendWindowState::kMinHeightTwips;
constexpr int kPanelTwips = 1500;
constexpr qsizetype kLoadBlock = 1000;
// Larger files would not fit in memory once escaped; they are refused.
constexpr qint64 kMaxLoadBytes = qint64(256) * 1024 * 1024;
// Reading and scanning a file also go in pieces, so events can run between them.
constexpr qint64 kReadPiece = qint64(1) << 20;
constexpr qsizetype kScanPiece = qsizetype(1) << 20;
// Room for the first edits after a load without moving the whole buffer.
constexpr qsizetype kEditSlack = 64 * 1024;
constexpr int kDetailsDelayMs = 200;
constexpr int kFlashMs = 50;

const QString kSection = QStringLiteral("Send");
const QString kFilter = QStringLiteral("All files (*.*) | *.*");
const QString kLoadFailure =
    QStringLiteral("An error occurred while attempting to load the file.  The operating system reports: ");
const QString kSaveFailure =
    QStringLiteral("An error occurred while attempting to save the file.  The operating system reports: ");
const QString kDateFailure = QStringLiteral("An error occurred while attempting to read the date stamp of "
                                            "the linked file. The operating system reports: ");

QList<frmSend *> &registry()
{
    static QList<frmSend *> windows;
    return windows;
}
std::function<void()> &refreshHook()
{
    static std::function<void()> hook;
    return hook;
}
std::function<void()> &optionsHook()
{
    static std::function<void()> hook;
    return hook;
}
frmSend::SendHook &defaultSendHook()
{
    static frmSend::SendHook hook;
    return hook;
}

OsError errnoError(int e)
{
    return OsError{e, qt_error_string(e)};
}

// Why a path cannot be looked at, in the system's own words.
OsError pathError(const QString &path)
{
    std::error_code ec;
    (void)std::filesystem::last_write_time(std::filesystem::path(QFile::encodeName(path).toStdString()), ec);
    if (ec)
        return OsError{ec.value(), QString::fromLocal8Bit(ec.message())};
    return errnoError(ENOENT);
}

enum class ReadResult
{
    Read,
    Failed,
    Abandoned
};

// Reads a whole file in pieces; pump lets events run between them and says
// whether to go on (false: the window went away meanwhile).
ReadResult readWholeFile(const QString &path, QByteArray &out, OsError &error,
                         const std::function<bool()> &pump)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        error = pathError(path);
        return ReadResult::Failed;
    }
    if (info.isDir()) {
        error = errnoError(EISDIR);
        return ReadResult::Failed;
    }
    if (!info.isFile()) {
        // A pipe or device could block or never end.
        error = errnoError(EINVAL);
        return ReadResult::Failed;
    }
    if (info.size() > kMaxLoadBytes) {
        error = errnoError(EFBIG);
        return ReadResult::Failed;
    }
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        error = errnoError(errno != 0 ? errno : EACCES);
        return ReadResult::Failed;
    }
    try {
        out.clear();
        out.reserve(info.size());
        for (;;) {
            const QByteArray piece = file.read(kReadPiece);
            if (file.error() != QFileDevice::NoError) {
                error = OsError{EIO, file.errorString()};
                return ReadResult::Failed;
            }
            if (piece.isEmpty())
                break;
            out += piece;
            if (out.size() > kMaxLoadBytes) {
                // It grew while being read.
                out.clear();
                error = errnoError(EFBIG);
                return ReadResult::Failed;
            }
            if (!pump())
                return ReadResult::Abandoned;
        }
    } catch (const std::bad_alloc &) {
        out.clear();
        error = errnoError(ENOMEM);
        return ReadResult::Failed;
    }
    return ReadResult::Read;
}

// Per byte: whether loading counts it as unprintable (below 32 or 127 and
// above, except CR and LF), and how many characters escaped loading makes
// of it (CR, LF and printable bytes stay one; the rest become "\" + 2 hex).
struct LoadTables
{
    bool unprintable[256];
    qsizetype escapedWidth[256];
    LoadTables()
    {
        for (int b = 0; b < 256; ++b) {
            unprintable[b] = (b < 32 && b != '\r' && b != '\n') || b >= 127;
            const bool kept = b == '\r' || b == '\n' || Bytes::IsPrintable(char(b));
            escapedWidth[b] = kept ? 1 : 3;
        }
    }
};
const LoadTables &loadTables()
{
    static const LoadTables t;
    return t;
}

void appendEscaped(QByteArray &out, const char *data, qsizetype len)
{
    static const char kHex[] = "0123456789ABCDEF";
    const LoadTables &t = loadTables();
    for (qsizetype i = 0; i < len; ++i) {
        const auto b = uchar(data[i]);
        if (t.escapedWidth[b] == 1) {
            out.append(char(b));
        } else {
            out.append('\\');
            out.append(kHex[b >> 4]);
            out.append(kHex[b & 15]);
        }
    }
}

// The busy pointer for as long as the object lives.
struct BusyPointer
{
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;
};
} // namespace

// A load or a conversion is running; a close asked for meanwhile waits for its end.
struct frmSend::Busy
{
    explicit Busy(frmSend *w) : window(w) { ++w->m_busyDepth; }
    ~Busy()
    {
        if (window) {
            --window->m_busyDepth;
            window->busyEnded();
        }
    }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;
    QPointer<frmSend> window;
};

// ---------------------------------------------------------------- entry points

frmSend *frmSend::OpenNewWindow()
{
    auto *w = new frmSend;
    w->IsNewWindow = true;
    w->show();
    return w;
}

frmSend *frmSend::ReopenState(int stateNumber)
{
    auto *w = new frmSend;
    w->IsNewWindow = false;
    w->StateNumber = qint16(stateNumber);
    w->show();
    w->LoadWindowState();
    return w;
}

QList<frmSend *> frmSend::openWindows()
{
    return registry();
}

OsError frmSend::CloseAllForExit()
{
    OsError first;
    QList<QPointer<frmSend>> windows;
    for (frmSend *w : registry())
        windows.append(w);
    for (const QPointer<frmSend> &w : windows) {
        if (!w || w->m_exiting)
            continue;
        const OsError e = w->closeForExit();
        if (e.isError() && !first.isError())
            first = e;
    }
    return first;
}

void frmSend::setRefreshSendListHook(std::function<void()> hook)
{
    refreshHook() = std::move(hook);
}

void frmSend::setShowOptionsHook(std::function<void()> hook)
{
    optionsHook() = std::move(hook);
}

void frmSend::setDefaultSendHook(SendHook hook)
{
    defaultSendHook() = std::move(hook);
}

// ---------------------------------------------------------------- construction

frmSend::frmSend(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmSend"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_support = new SupportClass(this);
    m_schedule = new SendSchedule(*this, this);
    buildUi();

    m_frmDetails = new frmDetails(this);
    frmLoadWait = new frmWait(this);
    frmLoadWait->setObjectName(QStringLiteral("frmLoadWait"));
    tmrTextChanged = new frmTimer(this);
    tmrPauseAfterMessage = new frmTimer(this);
    tmrPauseAfterData = new frmTimer(this);
    tmrDataTransmission = new frmTimer(this);
    tmrTextChanged->setObjectName(QStringLiteral("tmrTextChanged"));
    tmrPauseAfterMessage->setObjectName(QStringLiteral("tmrPauseAfterMessage"));
    tmrPauseAfterData->setObjectName(QStringLiteral("tmrPauseAfterData"));
    tmrDataTransmission->setObjectName(QStringLiteral("tmrDataTransmission"));

    connectControls();
    setCaption();
    UpdateSendCaption();
    ShowLinkState();
    IsModified = false;
    DataChanged = false;
    registry().append(this);
}

frmSend::~frmSend()
{
    registry().removeAll(this);
}

void frmSend::buildUi()
{
    auto named = [](auto *w, const char *name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };

    lblTitle = named(new QLabel(QStringLiteral("Description of Data:")), "lblTitle");
    txtTitle = named(new QLineEdit, "txtTitle");
    lblOptional = named(new QLabel(QStringLiteral("(Optional)")), "lblOptional");
    lblSend = named(new QLabel(QStringLiteral("Send the following through the socket:")), "lblSend");
    txtSend = named(new ByteTextEdit, "txtSend");
    QFont font(QStringLiteral("Courier New"));
    font.setPointSizeF(9.75);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    txtSend->setFont(font);

    panTimingDetails = named(new QFrame, "panTimingDetails");
    chkBinary = named(new QCheckBox, "chkBinary");
    lblBinary =
        named(new ClickLabel(QStringLiteral("Binary data preceded by \"\\\"  (Supply data in 2 digit hex)")),
              "lblBinary");
    lblBinary->setTextFormat(Qt::PlainText);
    chkPause = named(new QCheckBox, "chkPause");
    lblPause2 = named(new ClickLabel(QStringLiteral("Pause after every message.")), "lblPause2");
    lblPause = named(new QLabel(QStringLiteral("Pause for")), "lblPause");
    txtPause = named(new QLineEdit(QStringLiteral("200")), "txtPause");
    udPause = named(new UpDown(txtPause, 0, 90000, 100), "udPause");
    lblmSec = named(new QLabel(QStringLiteral("mSec")), "lblmSec");
    chkPeriodically = named(new QCheckBox, "chkPeriodically");
    lblPeriodically = named(new ClickLabel(QStringLiteral("Send data periodically")), "lblPeriodically");
    lblSendOnceEvery = named(new QLabel(QStringLiteral("Send once every")), "lblSendOnceEvery");
    txtOnceEvery = named(new QLineEdit(QStringLiteral("5000")), "txtOnceEvery");
    udOnceEvery = named(new UpDown(txtOnceEvery, 0, 90000, 100), "udOnceEvery");
    lblmSecFor = named(new QLabel(QStringLiteral("mSec for")), "lblmSecFor");
    cboSecs = named(new QComboBox, "cboSecs");
    cboSecs->setEditable(true);
    cboSecs->setInsertPolicy(QComboBox::NoInsert);
    cboSecs->setCompleter(nullptr);
    cboSecs->addItems({QStringLiteral("ever"), QStringLiteral("1"), QStringLiteral("10"),
                       QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("100"),
                       QStringLiteral("120"), QStringLiteral("200"), QStringLiteral("1000")});
    cboSecs->setCurrentIndex(0);
    m_lastSecsIndex = 0;
    lblSeconds = named(new QLabel(QStringLiteral("seconds")), "lblSeconds");
    // Boxes as wide as their usual values, so the options rows fit the
    // narrowest window; longer numbers scroll inside them.
    for (QLineEdit *box : {txtPause, txtOnceEvery})
        box->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
    QStyleOptionComboBox combo;
    combo.initFrom(cboSecs);
    combo.editable = true;
    const QSize digits(fontMetrics().horizontalAdvance(QStringLiteral("00000")), fontMetrics().height());
    cboSecs->setFixedWidth(style()->sizeFromContents(QStyle::CT_ComboBox, &combo, digits, cboSecs).width());

    cmdTiming = named(new QPushButton(QStringLiteral(">>")), "cmdTiming");
    cmdTiming->setToolTip(QStringLiteral("Show transmission options"));
    cmdTiming->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral(">>>>>>")));
    cmdSend = named(new QPushButton(QStringLiteral("Send")), "cmdSend");
    cmdSend->setDefault(false);
    cmdSend->setAutoDefault(false);
    panSending = named(new QFrame, "panSending");
    panSending->setFrameShape(QFrame::StyledPanel);
    panSending->setFixedSize(14, 14);
    panSending->setAutoFillBackground(true);
    panSending->setToolTip(QStringLiteral("Data sent"));
    auto toolButton = [this](QStyle::StandardPixmap icon, const QString &tip, const char *name) {
        auto *b = new QToolButton;
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(sharedStandardIcon(icon));
        b->setToolTip(tip);
        return b;
    };
    cmdOpen = toolButton(QStyle::SP_DialogOpenButton, QStringLiteral("Open from file"), "cmdOpen");
    cmdSaveAs = named(new QPushButton(QStringLiteral("Save As")), "cmdSaveAs");
    cmdCopyAll =
        toolButton(QStyle::SP_FileDialogDetailedView, QStringLiteral("Copy all to clipboard"), "cmdCopyAll");
    cmdClear = toolButton(QStyle::SP_DialogResetButton, QStringLiteral("Clear window"), "cmdClear");
    cmdDetails = named(new QPushButton(QStringLiteral("Details")), "cmdDetails");
    cmdPreferences = named(new QPushButton(QStringLiteral("Options")), "cmdPreferences");
    if (!optionsHook()) {
        cmdPreferences->setEnabled(false);
        cmdPreferences->setToolTip(OptionsModel::kWindowUnavailable);
    }
    cmdClose = named(new QPushButton(QStringLiteral("Close")), "cmdClose");
    for (QPushButton *b : {cmdSend, cmdSaveAs, cmdDetails, cmdPreferences, cmdClose, cmdTiming})
        b->setAutoDefault(false);

    // Options panel: four short rows, 1500 twips in all.
    auto *panel = new QVBoxLayout(panTimingDetails);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->setSpacing(1);
    auto row = [panel] {
        auto *r = new QHBoxLayout;
        r->setSpacing(4);
        panel->addLayout(r);
        return r;
    };
    QHBoxLayout *r1 = row();
    r1->addWidget(chkBinary);
    r1->addWidget(lblBinary, 1);
    QHBoxLayout *r2 = row();
    r2->addWidget(chkPause);
    r2->addWidget(lblPause2);
    r2->addStretch(1);
    r2->addWidget(lblPause);
    r2->addWidget(txtPause);
    r2->addWidget(udPause);
    r2->addWidget(lblmSec);
    QHBoxLayout *r3 = row();
    r3->addWidget(chkPeriodically);
    r3->addWidget(lblPeriodically, 1);
    QHBoxLayout *r4 = row();
    r4->addSpacing(20);
    r4->addWidget(lblSendOnceEvery);
    r4->addWidget(txtOnceEvery);
    r4->addWidget(udOnceEvery);
    r4->addWidget(lblmSecFor);
    r4->addWidget(cboSecs);
    r4->addWidget(lblSeconds);
    r4->addStretch(1);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(6, 6, 6, 6);
    root->setSpacing(4);
    auto *title = new QHBoxLayout;
    title->addWidget(lblTitle);
    title->addWidget(txtTitle, 1);
    title->addWidget(lblOptional);
    root->addLayout(title);
    root->addWidget(lblSend);
    root->addWidget(txtSend, 1);
    panTimingDetails->setFixedHeight(std::max(1, Twips::toPixelsY(kPanelTwips) - root->spacing()));
    root->addWidget(panTimingDetails);
    auto *files = new QHBoxLayout;
    files->addWidget(cmdOpen);
    files->addWidget(cmdSaveAs);
    files->addWidget(cmdCopyAll);
    files->addWidget(cmdClear);
    files->addStretch(1);
    files->addWidget(cmdDetails);
    files->addWidget(cmdPreferences);
    root->addLayout(files);
    auto *actions = new QHBoxLayout;
    actions->addWidget(cmdTiming);
    actions->addStretch(1);
    actions->addWidget(panSending);
    actions->addWidget(cmdSend);
    actions->addWidget(cmdClose);
    root->addLayout(actions);

    panTimingDetails->hide();
    setMinimumSize(minimumWindowSize(false));
    resize(minimumSize());

    // The pause and period controls follow their boxes, which start unchecked.
    chkPause_Click();
    chkPeriodically_Click();
}

void frmSend::connectControls()
{
    connect(txtTitle, &QLineEdit::textChanged, this, [this] {
        setCaption();
        IsModified = true;
    });
    connect(txtSend, &ByteTextEdit::changed, this, [this] {
        IsModified = true;
        DataChanged = true;
        if (!IsLoading)
            tmrTextChanged->StartTimer(kDetailsDelayMs, true);
    });
    connect(txtSend, &ByteTextEdit::clicked, this,
            [this] { tmrTextChanged->StartTimer(kDetailsDelayMs, true); });
    connect(txtSend, &ByteTextEdit::navigationKey, this,
            [this] { tmrTextChanged->StartTimer(kDetailsDelayMs, true); });

    connect(chkBinary, &QCheckBox::toggled, this, [this] { chkBinary_Click(); });
    connect(chkPause, &QCheckBox::toggled, this, [this] { chkPause_Click(); });
    connect(chkPeriodically, &QCheckBox::toggled, this, [this] { chkPeriodically_Click(); });
    auto toggles = [this](ClickLabel *label, QCheckBox *box) {
        connect(label, &ClickLabel::clicked, this, [box] {
            if (box->isEnabled())
                box->setChecked(!box->isChecked());
        });
    };
    toggles(lblBinary, chkBinary);
    toggles(lblPause2, chkPause);
    toggles(lblPeriodically, chkPeriodically);

    connect(txtPause, &QLineEdit::textChanged, this, [this] { intervalTextChanged(txtPause); });
    connect(txtOnceEvery, &QLineEdit::textChanged, this, [this] { intervalTextChanged(txtOnceEvery); });
    connect(cboSecs, &QComboBox::editTextChanged, this, [this](const QString &t) { durationTextChanged(t); });
    connect(cboSecs, &QComboBox::activated, this,
            [this] { lblSeconds->setEnabled(cboSecs->currentText() != QLatin1String("ever")); });
    for (QObject *o : {static_cast<QObject *>(txtPause), static_cast<QObject *>(txtOnceEvery),
                       static_cast<QObject *>(cboSecs->lineEdit())})
        o->installEventFilter(this);

    connect(cmdTiming, &QPushButton::clicked, this, [this] { cmdTiming_Click(); });
    connect(cmdSend, &QPushButton::clicked, this, [this] { cmdSend_Click(); });
    connect(cmdOpen, &QToolButton::clicked, this, [this] { cmdOpen_Click(); });
    connect(cmdSaveAs, &QPushButton::clicked, this, [this] { cmdSaveAs_Click(); });
    connect(cmdCopyAll, &QToolButton::clicked, this, [this] { cmdCopyAll_Click(); });
    connect(cmdClear, &QToolButton::clicked, this, [this] { cmdClear_Click(); });
    connect(cmdDetails, &QPushButton::clicked, this, [this] { cmdDetails_Click(); });
    connect(cmdPreferences, &QPushButton::clicked, this, [this] { cmdPreferences_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { cmdClose_Click(); });

    connect(frmLoadWait, &frmWait::Cancel, this, [this] { frmLoadWait_Cancel(); });
    connect(tmrTextChanged, &frmTimer::TimerFired, this, &frmSend::tmrTextChanged_TimerFired);
    connect(tmrDataTransmission, &frmTimer::TimerFired, this, &frmSend::tmrDataTransmission_TimerFired);
    connect(tmrPauseAfterMessage, &frmTimer::TimerFired, m_schedule,
            [this] { m_schedule->timerFired(SendTimer::PauseAfterMessage); });
    connect(tmrPauseAfterData, &frmTimer::TimerFired, m_schedule,
            [this] { m_schedule->timerFired(SendTimer::PauseAfterData); });
}

void frmSend::setCaption()
{
    const QString t = txtTitle->text();
    setWindowTitle(t.isEmpty() ? QStringLiteral("Send") : QStringLiteral("Send - ") + t);
}

bool frmSend::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        // Only typed characters are filtered; Tab and the editing keys pass.
        const bool typed = !text.isEmpty() && key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab &&
                           key->key() != Qt::Key_Delete;
        if (typed && Bytes::OnlyNumbersFilter(text.at(0).unicode()) == 0)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- editing and options

QString frmSend::soundIntervalText(const QString &text)
{
    QString digits;
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    }
    // Leading zeros carry no value; what remains decides the range.
    qsizetype first = 0;
    while (first < digits.size() && digits.at(first) == QLatin1Char('0'))
        ++first;
    const QString significant = digits.mid(first);
    if (significant.isEmpty())
        return QStringLiteral("1");
    if (significant.size() > 10 || significant.toLongLong() > std::numeric_limits<qint32>::max())
        return QString::number(std::numeric_limits<qint32>::max());
    return digits;
}

void frmSend::intervalTextChanged(QLineEdit *box)
{
    IsModified = true;
    const QString sound = soundIntervalText(box->text());
    if (sound != box->text())
        box->setText(sound);
}

int frmSend::pauseInterval() const
{
    return soundIntervalText(txtPause->text()).toInt();
}

int frmSend::periodInterval() const
{
    return soundIntervalText(txtOnceEvery->text()).toInt();
}

void frmSend::durationTextChanged(const QString &text)
{
    lblSeconds->setEnabled(text != QLatin1String("ever"));
    // Choosing an entry from the list is no edit; typing or setting the text is.
    const int index = cboSecs->currentIndex();
    const bool fromList = index >= 0 && index != m_lastSecsIndex && text == cboSecs->itemText(index);
    m_lastSecsIndex = index;
    if (!fromList)
        IsModified = true;
}

std::optional<double> frmSend::durationSeconds() const
{
    bool ok = false;
    const double d = QLocale::c().toDouble(cboSecs->currentText().trimmed(), &ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

QSize frmSend::minimumWindowSize(bool panelShown) const
{
    // The classic minimum, or wider where the desktop font needs more room
    // for every caption to stay whole.
    const QSize classic = Twips::toPixels(kWidthTwips, kHeightTwips + (panelShown ? kPanelTwips : 0));
    const QMargins m = layout()->contentsMargins();
    const int panel = panTimingDetails->layout()->minimumSize().width() + m.left() + m.right();
    return {std::max({classic.width(), layout()->minimumSize().width(), panel}), classic.height()};
}

bool frmSend::timingShown() const
{
    return cmdTiming->text() == QLatin1String("<<");
}

void frmSend::cmdTiming_Click()
{
    const int delta = Twips::toPixelsY(kPanelTwips);
    // Taken first: a larger minimum would already stretch the window.
    const int h = height();
    if (cmdTiming->text() == QLatin1String(">>")) {
        cmdTiming->setText(QStringLiteral("<<"));
        setMinimumSize(minimumWindowSize(true));
        resize(width(), h + delta);
        panTimingDetails->show();
    } else {
        cmdTiming->setText(QStringLiteral(">>"));
        panTimingDetails->hide();
        setMinimumSize(minimumWindowSize(false));
        resize(width(), h - delta);
    }
}

void frmSend::chkBinary_Click()
{
    IsModified = true;
    RefreshDetails();
}

void frmSend::chkPause_Click()
{
    const bool on = chkPause->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(lblPause), static_cast<QWidget *>(txtPause),
                       static_cast<QWidget *>(lblmSec), static_cast<QWidget *>(udPause)})
        w->setEnabled(on);
    UpdateSendCaption();
    IsModified = true;
}

void frmSend::chkPeriodically_Click()
{
    const bool on = chkPeriodically->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(lblSendOnceEvery), static_cast<QWidget *>(txtOnceEvery),
                       static_cast<QWidget *>(cboSecs), static_cast<QWidget *>(lblSeconds),
                       static_cast<QWidget *>(lblmSecFor), static_cast<QWidget *>(udOnceEvery)})
        w->setEnabled(on);
    UpdateSendCaption();
    IsModified = true;
}

void frmSend::tmrTextChanged_TimerFired(const QVariant &)
{
    RefreshDetails();
}

void frmSend::RefreshDetails()
{
    // At most 300 characters around the caret. The excerpt is small and is
    // converted here without letting events run, so it can never disturb a
    // conversion of the whole data that is in progress.
    const QByteArray &data = txtSend->data();
    const qsizetype p = txtSend->caretPosition();
    const qsizetype start = p > 150 ? p - 151 : 0;
    const QByteArray excerpt = data.mid(start, 300);
    m_frmDetails->AddDetails(chkBinary->isChecked() ? Bytes::FromEscaped(excerpt) : excerpt);
}

void frmSend::cmdDetails_Click()
{
    BusyPointer pointer;
    RefreshDetails();
    m_frmDetails->show();
    m_frmDetails->raise();
}

void frmSend::cmdPreferences_Click()
{
    if (optionsHook())
        optionsHook()();
}

void frmSend::SetUserFont(const QFont &font)
{
    txtSend->setFont(font);
}

// ---------------------------------------------------------------- files

void frmSend::cmdOpen_Click()
{
    if (isBusy())
        return;
    SettingsStore &store = SettingsStore::instance();
    const QString start = store.Read(kSection, QStringLiteral("InitReadDir"), ProgramFolder::writableDir());
    const QString file = tw::ui().openFileName(this, start, kFilter);
    if (file.isEmpty())
        return;
    store.Save(kSection, QStringLiteral("InitReadDir"), file);
    LinkedFileName = file;
    QPointer<frmSend> self(this);
    StopTransmittingData();
    if (!self)
        return;
    if (LoadFile(LinkedFileName)) {
        IsLinked = tw::ui().askYesNo(
            this,
            QStringLiteral("Should Tarnwell link to this file?\r\n\r\nThis means that if the file were to "
                           "change then it will be automatically re-read before transmission but it means "
                           "that the data cannot be edited on the screen."),
            UiService::Icon::Question);
    } else if (self && IsLinked) {
        // The box no longer mirrors the file: read it again before any transmission.
        LinkedFileDate = QDateTime();
    }
    if (!self || m_exiting)
        return;
    ShowLinkState();
    prepareRawData();
}

bool frmSend::LoadFile(const QString &path)
{
    if (IsLoading)
        return false;
    QPointer<frmSend> self(this);
    Busy busy(this);
    IsLoading = true;
    LoadCancelled = false;
    LinkedFileDate = QFileInfo(path).lastModified();
    RawData.clear();
    // Nothing typed may land between the blocks of the file.
    txtSend->setReadOnly(true);
    auto finished = [this] {
        IsLoading = false;
        txtSend->setReadOnly(IsLinked);
    };

    // Every step below lets events run once per time slice of work.
    QElapsedTimer slice;
    slice.start();
    auto pump = [&]() -> bool {
        if (slice.elapsed() < m_loadSliceMs)
            return true;
        QCoreApplication::processEvents();
        slice.restart();
        return !self.isNull();
    };

    QByteArray bytes;
    OsError error;
    switch (readWholeFile(path, bytes, error, pump)) {
    case ReadResult::Abandoned:
        return false;
    case ReadResult::Failed:
        finished();
        frmLoadWait->hide();
        tw::ui().failure(this, kLoadFailure, error);
        return false;
    case ReadResult::Read:
        break;
    }

    txtSend->clear();
    RefreshDetails();
    frmLoadWait->setLabel(QStringLiteral("Loading and parsing the file..."));

    const LoadTables &tables = loadTables();
    bool unprintable = false;
    qsizetype escapedLength = 0;
    const qsizetype n = bytes.size();
    for (qsizetype from = 0; from < n; from += kScanPiece) {
        const auto *d = reinterpret_cast<const uchar *>(bytes.constData());
        const qsizetype to = std::min(n, from + kScanPiece);
        for (qsizetype i = from; i < to; ++i) {
            unprintable |= tables.unprintable[d[i]];
            escapedLength += tables.escapedWidth[d[i]];
        }
        if (!pump())
            return false;
    }

    if (chkBinary->isChecked() && !unprintable) {
        if (!timingShown())
            cmdTiming_Click();
        chkBinary->setChecked(false);
        tw::ui().message(
            this,
            QStringLiteral("This file only contains ASCII characters. The 'Binary data preceded by '\\' ' "
                           "check box has been turned off."),
            UiService::Icon::Information);
    }
    bool escaped = chkBinary->isChecked();
    if (!escaped && unprintable) {
        if (!timingShown())
            cmdTiming_Click();
        chkBinary->setChecked(true);
        tw::ui().message(
            this,
            QStringLiteral("This file contains unprintable characters. They will be represented as a two "
                           "digit hexadecimal number preceded by a backslash ('\\')."),
            UiService::Icon::Information);
        escaped = true;
    }
    if (!self)
        return false;

    {
        BusyPointer pointer;
        auto centre = [this] { frmLoadWait->move(frameGeometry().center() - frmLoadWait->rect().center()); };
        frmLoadWait->SetPercent(0);
        centre();
        frmLoadWait->show();
        try {
            txtSend->reserve((escaped ? escapedLength : n) + kEditSlack);
        } catch (const std::bad_alloc &) {
            // Room is only a hint; appending finds its own.
        }
        QByteArray block;
        block.reserve(3 * kLoadBlock);
        // Blocks of 1000 characters go into the box; the view catches up by itself.
        for (qsizetype i = 0; i < n && !LoadCancelled; i += kLoadBlock) {
            const qsizetype len = std::min(kLoadBlock, n - i);
            if (escaped) {
                block.clear();
                appendEscaped(block, bytes.constData() + i, len);
                txtSend->appendData(block);
            } else {
                txtSend->appendData(QByteArrayView(bytes.constData() + i, len));
            }
            if (slice.elapsed() >= m_loadSliceMs) {
                frmLoadWait->SetPercent(int(std::lround(double(i + len) / double(n) * 100.0)));
                centre();
                if (!pump())
                    return false;
            }
        }
        finished();
        txtSend->flushView();
        RefreshDetails();
        frmLoadWait->hide();
    }

    if (LoadCancelled) {
        LoadCancelled = false;
        // A close asked for during the load needs no notice about the part shown.
        if (!m_closeRequested && !m_exiting) {
            tw::ui().message(
                this,
                QStringLiteral("You have cancelled the operation. Only part of the file will be displayed."),
                UiService::Icon::Information);
        }
        return false;
    }
    return true;
}

void frmSend::ShowLinkState()
{
    QPalette pal = txtSend->palette();
    if (IsLinked) {
        txtSend->setReadOnly(true);
        pal.setColor(QPalette::Base, QApplication::palette().color(QPalette::Button));
        pal.setColor(QPalette::Text, QApplication::palette().color(QPalette::ButtonText));
        txtSend->setToolTip(LinkedFileName);
    } else {
        txtSend->setReadOnly(false);
        pal.setColor(QPalette::Base, Qt::white);
        pal.setColor(QPalette::Text, Qt::black);
        txtSend->setToolTip(QString());
    }
    txtSend->setPalette(pal);
}

void frmSend::cmdSaveAs_Click()
{
    if (IsLoading)
        return;
    SettingsStore &store = SettingsStore::instance();
    const QString start = store.Read(kSection, QStringLiteral("InitSaveDir"), ProgramFolder::writableDir());
    const QString file = tw::ui().saveFileName(this, start, kFilter);
    if (file.isEmpty())
        return;
    // Written whole or not at all: the old file stays if anything fails.
    QSaveFile out(file);
    out.setDirectWriteFallback(true);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly)) {
        tw::ui().failure(this, kSaveFailure, errnoError(errno != 0 ? errno : EACCES));
        return;
    }
    const QByteArray &data = txtSend->data();
    if (out.write(data) != data.size() || !out.commit()) {
        tw::ui().failure(this, kSaveFailure, OsError{EIO, out.errorString()});
        return;
    }
    store.Save(kSection, QStringLiteral("InitSaveDir"), file);
}

void frmSend::cmdCopyAll_Click()
{
    QGuiApplication::clipboard()->setText(txtSend->text());
    tw::ui().message(this, QStringLiteral("The data has been copied to the clipboard."),
                     UiService::Icon::Information);
}

void frmSend::cmdClear_Click()
{
    if (isBusy())
        return;
    if (!tw::ui().askYesNo(this, QStringLiteral("Are you sure you wish to clear the send text box?"),
                           UiService::Icon::Question))
        return;
    txtSend->clear();
    LinkedFileName.clear();
    IsLinked = false;
    ShowLinkState();
}

// ---------------------------------------------------------------- closing and saved states

void frmSend::cmdClose_Click()
{
    close();
}

void frmSend::closeEvent(QCloseEvent *event)
{
    if (m_exiting) {
        // Stopped and saved by the exit already.
        m_frmDetails->hide();
        frmLoadWait->hide();
        event->accept();
        return;
    }
    if (m_inClose) {
        event->ignore();
        return;
    }
    if (isBusy()) {
        // End the load or conversion first; the close follows when it has stopped.
        m_closeRequested = true;
        if (IsLoading)
            LoadCancelled = true;
        m_support->StopGettingRaw();
        event->ignore();
        return;
    }
    m_inClose = true;
    QPointer<frmSend> self(this);
    const bool ok = CanCloseWindow();
    if (!self)
        return;
    m_inClose = false;
    if (ok) {
        m_frmDetails->hide();
        frmLoadWait->hide();
        event->accept();
    } else {
        event->ignore();
    }
}

void frmSend::busyEnded()
{
    if (m_busyDepth == 0 && m_closeRequested) {
        m_closeRequested = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

bool frmSend::CanCloseWindow()
{
    QPointer<frmSend> self(this);
    StopTransmittingData();
    if (!self)
        return false;
    return SaveWindowState();
}

OsError frmSend::closeForExit()
{
    QPointer<frmSend> self(this);
    m_exiting = true;
    // A load or conversion stops at its next look; the loops that let
    // events run below this call end when it returns.
    if (IsLoading)
        LoadCancelled = true;
    m_support->StopGettingRaw();
    StopTransmittingData();
    if (!self)
        return OsError();
    OsError e;
    if (IsModified) {
        bool keepClosing = true;
        e = writeState(keepClosing);
    }
    if (self)
        close();
    return e;
}

bool frmSend::SaveWindowState()
{
    if (!IsModified || m_saveFailed)
        return true;
    QPointer<frmSend> self(this);
    bool keepClosing = true;
    const OsError e = writeState(keepClosing);
    if (!self)
        return false;
    if (e.isError()) {
        m_saveFailed = true;
        tw::ui().failure(this, SettingsStore::kSaveFailure, e);
        return false;
    }
    return keepClosing;
}

OsError frmSend::writeState(bool &keepClosing)
{
    SendWindowState st;
    st.description = txtTitle->text();
    st.binary = chkBinary->isChecked();
    st.pause = chkPause->isChecked();
    st.periodically = chkPeriodically->isChecked();
    st.pauseFor = txtPause->text();
    st.onceEvery = txtOnceEvery->text();
    st.duration = cboSecs->currentText();
    st.left = Twips::fromPixelsX(x());
    st.top = Twips::fromPixelsY(y());
    st.width = Twips::fromPixelsX(width());
    st.height = Twips::fromPixelsY(height()) - (timingShown() ? kPanelTwips : 0);
    if (IsLinked)
        st.linkedFile = LinkedFileName;
    else
        st.data = txtSend->data();

    // Asked before the save: other copies of the program wait while it runs.
    keepClosing = true;
    auto tooLong = SendStateStore::DataTooLong::Clear;
    if (!IsLinked && !SendStateStore::fitsInStore(st.data)) {
        QPointer<frmSend> self(this);
        keepClosing = tw::ui().askYesNo(
            this,
            QStringLiteral("There is too much data in this window to allow its state to be recorded in the "
                           "registry.  The data will not be recorded.  It may be wise to save the "
                           "information to a file before proceeding.\r\n\r\nDo you wish to continue "
                           "closing this window?"),
            UiService::Icon::Question);
        if (!self)
            return OsError();
        // No keeps what is stored as the data of this state.
        if (!keepClosing)
            tooLong = SendStateStore::DataTooLong::KeepStored;
    }

    SendStateStore store(SettingsStore::instance());
    OsError e;
    if (IsNewWindow) {
        // A new window keeps the number it obtains, so a close that is
        // refused and then repeated saves in the same place.
        int n = 0;
        e = store.saveNew(st, n);
        if (!e.isError()) {
            IsNewWindow = false;
            StateNumber = qint16(n);
        }
    } else {
        e = store.save(StateNumber, st, tooLong);
    }
    // The lists show what is stored, also when the close goes no further.
    if (!e.isError() && refreshHook())
        refreshHook()();
    return e;
}

void frmSend::LoadWindowState()
{
    const QScreen *scr = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize screenTwips =
        scr ? QSize(Twips::fromPixelsX(scr->geometry().width()), Twips::fromPixelsY(scr->geometry().height()))
            : QSize(kWidthTwips * 4, kHeightTwips * 4);
    SendWindowState st = SendStateStore(SettingsStore::instance())
                             .load(StateNumber, QPoint(Twips::fromPixelsX(x()), Twips::fromPixelsY(y())));
    st.keepOnScreen(screenTwips);

    txtTitle->setText(st.description);
    move(Twips::toPixelsX(st.left), Twips::toPixelsY(st.top));
    resize(Twips::toPixels(st.width, st.height));
    // Restored through the same handling as edits, so a value that differs
    // from a fresh window's marks the window modified.
    chkBinary->setChecked(st.binary);
    chkPause->setChecked(st.pause);
    chkPeriodically->setChecked(st.periodically);
    txtPause->setText(st.pauseFor);
    txtOnceEvery->setText(st.onceEvery);
    cboSecs->setEditText(st.duration);
    if ((st.binary || st.pause || st.periodically) && !timingShown())
        cmdTiming_Click();

    if (!st.linkedFile.isEmpty()) {
        LinkedFileName = st.linkedFile;
        // Linked until the file turns out unreadable: a save meanwhile keeps the link.
        IsLinked = true;
        QPointer<frmSend> self(this);
        const bool loaded = LoadFile(LinkedFileName);
        if (!self)
            return;
        if (loaded) {
            IsLinked = true;
        } else {
            // Restored without the link and without a part of the file; the
            // saved state stays as it is until the user changes something.
            IsLinked = false;
            LinkedFileName.clear();
            txtSend->clear();
        }
        ShowLinkState();
        if (!loaded)
            IsModified = false;
    } else {
        txtSend->setData(st.data);
        IsLinked = false;
        LinkedFileName.clear();
        ShowLinkState();
    }
}

// ---------------------------------------------------------------- transmission

void frmSend::sendBytes(const QByteArray &bytes)
{
    if (m_sendHook)
        m_sendHook(bytes);
    else if (defaultSendHook())
        defaultSendHook()(bytes);
}

void frmSend::transmit(const QByteArray &bytes)
{
    QPointer<frmSend> self(this);
    sendBytes(bytes);
    if (self)
        FlashSendingIndicator();
}

SendScheduleHost::Options frmSend::sendOptions() const
{
    return {chkPause->isChecked(), chkPeriodically->isChecked(), pauseInterval(), periodInterval(),
            durationSeconds()};
}

void frmSend::startSendTimer(SendTimer timer, int ms, bool oneShot)
{
    (timer == SendTimer::PauseAfterMessage ? tmrPauseAfterMessage : tmrPauseAfterData)
        ->StartTimer(ms, oneShot);
}

void frmSend::stopSendTimer(SendTimer timer)
{
    (timer == SendTimer::PauseAfterMessage ? tmrPauseAfterMessage : tmrPauseAfterData)->StopTimer();
}

void frmSend::stopPreparing()
{
    m_support->StopGettingRaw();
    QCoreApplication::processEvents();
}

bool frmSend::isSending() const
{
    return m_schedule->IsSending;
}

bool frmSend::prepareRawData()
{
    // The text is copied: it may be edited while the conversion lets events run.
    QPointer<frmSend> self(this);
    const QByteArray text = txtSend->data();
    const bool escapes = chkBinary->isChecked();
    QByteArray raw;
    DataChanged = false;
    bool ok;
    {
        Busy busy(this);
        ok = m_support->GetRaw(text, escapes, raw);
    }
    if (!self)
        return false;
    if (ok) {
        RawData = raw;
        return true;
    }
    // Never keep part of a conversion: nothing is better than a fragment.
    RawData.clear();
    DataChanged = true;
    StopTransmittingData();
    return false;
}

void frmSend::cmdSend_Click()
{
    if (isBusy() || m_inSendClick) {
        // Stop works even while a pass re-reads or converts the data.
        if (isSending() && !m_inSendClick)
            StopTransmittingData();
        return;
    }
    QPointer<frmSend> self(this);
    m_inSendClick = true;
    cmdSend->setEnabled(false);
    m_rawFresh = false;
    [&] {
        if (!RefreshRawData() || !self)
            return;
        if (chkPause->isChecked() || chkPeriodically->isChecked()) {
            m_schedule->IsSending = !m_schedule->IsSending;
            UpdateSendCaption();
            if (m_schedule->IsSending) {
                // Converted once at the start, unless that just happened above.
                if (m_rawFresh || prepareRawData()) {
                    if (self)
                        m_schedule->StartTransmittingData();
                }
            } else {
                StopTransmittingData();
            }
        } else {
            if (RawData.isEmpty() && !prepareRawData())
                return;
            if (self)
                m_schedule->tmrPauseAfterData_TimerFired();
        }
    }();
    if (!self)
        return;
    m_inSendClick = false;
    cmdSend->setEnabled(true);
}

bool frmSend::RefreshRawData()
{
    // Converting lets events run, and an exit may delete this window meanwhile.
    const QPointer<frmSend> self(this);
    if (!IsLinked) {
        if (DataChanged) {
            const bool converted = prepareRawData();
            if (!self)
                return false;
            m_rawFresh = converted;
            return m_rawFresh;
        }
        return true;
    }
    const QFileInfo info(LinkedFileName);
    const QDateTime stamp = info.exists() ? info.lastModified() : QDateTime();
    if (!stamp.isValid()) {
        const OsError error = pathError(LinkedFileName);
        StopTransmittingData();
        if (self)
            tw::ui().failure(this, kDateFailure, error);
        return false;
    }
    if (stamp != LinkedFileDate) {
        if (!LoadFile(LinkedFileName)) {
            // Neither the old bytes nor a part of the new file go out.
            if (self) {
                LinkedFileDate = QDateTime();
                RawData.clear();
                StopTransmittingData();
            }
            return false;
        }
        if (!self)
            return false;
        LinkedFileDate = stamp;
        const bool converted = prepareRawData();
        if (!self)
            return false;
        m_rawFresh = converted;
        return m_rawFresh;
    }
    return true;
}

void frmSend::setOptionControlsEnabled(bool enabled)
{
    chkPeriodically->setEnabled(enabled);
    chkPause->setEnabled(enabled);
    chkBinary->setEnabled(enabled);
    // The duration box also follows its own check box.
    cboSecs->setEnabled(enabled && chkPeriodically->isChecked());
}

void frmSend::FlashSendingIndicator()
{
    QPalette pal = panSending->palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 255));
    panSending->setPalette(pal);
    panSending->repaint();
    tmrDataTransmission->StartTimer(kFlashMs, true);
}

void frmSend::tmrDataTransmission_TimerFired(const QVariant &)
{
    QPalette pal = panSending->palette();
    pal.setColor(QPalette::Window, palette().color(QPalette::Window));
    panSending->setPalette(pal);
}

void frmSend::UpdateSendCaption()
{
    if (!chkPause->isChecked() && !chkPeriodically->isChecked())
        cmdSend->setText(QStringLiteral("&Send"));
    else if (isSending())
        cmdSend->setText(QStringLiteral("&Stop"));
    else
        cmdSend->setText(QStringLiteral("&Start Sending"));
}

void frmSend::StopTransmittingData()
{
    m_schedule->StopTransmittingData();
}
