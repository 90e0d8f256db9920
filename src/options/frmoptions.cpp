#include "options/frmoptions.h"

#include "core/bytes.h"
#include "ui/frmhelp.h"
#include "ui/uiservice.h"
#include "ui/updown.h"
#include "ui/userfont.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
using Check = OptionsModel::Check;
using Text = OptionsModel::Text;

frmOptions::ViewerFactory &viewerFactory()
{
    static frmOptions::ViewerFactory f;
    return f;
}

QPointer<frmOptions> &theWindow()
{
    static QPointer<frmOptions> w;
    return w;
}

constexpr int kFirstHelpTopic = 13;

// The three details buttons carry a single ellipsis character.
const QString kEllipsis = QString(QChar(0x2026));

const QString kHttpQuestion = QStringLiteral(
    "In Pass Through mode, if you are attempting to view HTTP messages (ie the Web) then it is "
    "important that these options are configured correctly.  Do you want these options changed?");

int viewerIndex(Text t)
{
    switch (t) {
    case Text::MessageSeparator:
        return 0;
    case Text::FieldSeparator:
        return 1;
    case Text::IgnoreBetweenText:
        return 2;
    default:
        return -1;
    }
}

QString textOf(QWidget *w)
{
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    return QString();
}

// The font button's picture: "Aa" drawn in the desktop's own font.
QIcon fontPicture()
{
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(13);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("Aa"));
    return QIcon(pm);
}

void setEnabledWhy(QWidget *w, bool enabled, const QString &why)
{
    w->setEnabled(enabled);
    w->setToolTip(enabled ? QString() : why);
}
} // namespace

void frmOptions::setViewerFactory(ViewerFactory factory)
{
    viewerFactory() = std::move(factory);
}

frmOptions *frmOptions::instance()
{
    return theWindow();
}

frmOptions *frmOptions::window()
{
    if (!theWindow())
        theWindow() = new frmOptions(OptionsModel::current());
    return theWindow();
}

frmOptions *frmOptions::open(int tab)
{
    frmOptions *w = window();
    if (tab >= 0 && tab < w->tabOption->count())
        w->tabOption->setCurrentIndex(tab);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

frmOptions::frmOptions(OptionsModel *model, QWidget *parent) : QDialog(parent), m_model(model)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setModal(false);
    buildUi();
    wireModel();
    if (!theWindow())
        theWindow() = this;
}

frmOptions::~frmOptions()
{
    hideViewers();
}

int frmOptions::helpTopic() const
{
    return kFirstHelpTopic + tabOption->currentIndex();
}

frmOptions::SeparatorViewer *frmOptions::viewer(Text t) const
{
    const int i = viewerIndex(t);
    return i < 0 ? nullptr : m_viewers[size_t(i)].get();
}

// ---------------------------------------------------------------- building

void frmOptions::buildUi()
{
    auto named = [](auto *w, const QString &name) {
        w->setObjectName(name);
        return w;
    };
    for (int i = 0; i < OptionsModel::kCheckCount; ++i) {
        auto *box = new QCheckBox;
        box->setObjectName(OptionsModel::controlName(Check(i)));
        m_checks[size_t(i)] = box;
    }
    chkVerboseLogging = checkBox(Check::VerboseLogging);
    chkCaseInsensitive = checkBox(Check::CaseInsensitive);
    chkAutoDisconnect = checkBox(Check::AutoDisconnect);
    chkConcatMsgSeps = checkBox(Check::ConcatMsgSeps);
    chkFieldSeparator = checkBox(Check::FieldSeparator);
    chkMessageSeparator = checkBox(Check::MessageSeparator);
    chkAutoReconnect = checkBox(Check::AutoReconnect);
    chkIgnoreBetween = checkBox(Check::IgnoreBetween);
    chkMultipleClients = checkBox(Check::MultipleClients);
    chkClearAllLists = checkBox(Check::ClearAllLists);

    chkVerboseLogging->setText(
        QStringLiteral("Include socket communication events in the event log. (Verbose)"));
    chkCaseInsensitive->setText(QStringLiteral("Case sensitive comparisons"));
    chkAutoDisconnect->setText(QStringLiteral("Automatically close connection if peer disconnects."));
    chkConcatMsgSeps->setText(
        QStringLiteral("Contactenate multiple consecutive message separators to the end of the message"));
    chkFieldSeparator->setText(QStringLiteral("Display field separator in details view"));
    chkMessageSeparator->setText(QStringLiteral("Display message separator in details view"));
    chkAutoReconnect->setText(QStringLiteral("Automatically attempt reconnection after:"));
    chkIgnoreBetween->setText(QStringLiteral("Ignore field separators between"));
    chkMultipleClients->setText(QStringLiteral("Allow multiple clients to connect to Tarnwell."));
    chkClearAllLists->setText(QStringLiteral("When either data list is cleared, both are cleared."));

    auto numberBox = [&](Text t) {
        auto *e = named(new QLineEdit, OptionsModel::controlName(t));
        e->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
        m_textControls[size_t(t)] = e;
        return e;
    };
    auto combo = [&](Text t, const QStringList &choices) {
        auto *c = named(new QComboBox, OptionsModel::controlName(t));
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        // Any text is a separator: completing "\0" to "\0D\0A" would change what was typed.
        c->setCompleter(nullptr);
        c->addItems(choices);
        c->setMinimumContentsLength(14);
        m_textControls[size_t(t)] = c;
        return c;
    };
    auto detailsButton = [&](const QString &name) {
        auto *b = named(new QPushButton(kEllipsis), name);
        b->setAutoDefault(false);
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("MMM")) + 8);
        return b;
    };

    txtMaxListLength = numberBox(Text::MaxListLength);
    txtMaxListSize = numberBox(Text::MaxListSize);
    txtReconnectPeriod = numberBox(Text::ReconnectPeriod);
    upRows = named(new UpDown(txtMaxListLength, 0, 9000, 10), QStringLiteral("upRows"));
    upKilobytes = named(new UpDown(txtMaxListSize, 0, 1000, 10), QStringLiteral("upKilobytes"));
    upReconnection = named(new UpDown(txtReconnectPeriod, 0, 100000, 10), QStringLiteral("upReconnection"));
    cboMessage = combo(Text::MessageSeparator, OptionsModel::messageSeparatorChoices());
    cboField = combo(Text::FieldSeparator, OptionsModel::fieldSeparatorChoices());
    cboIgnoreBetween = combo(Text::IgnoreBetweenText, OptionsModel::ignoreBetweenChoices());
    cmdMessageDetails = detailsButton(QStringLiteral("cmdMessageDetails"));
    cmdFieldDetails = detailsButton(QStringLiteral("cmdFieldDetails"));
    cmdIgnoreBetween = detailsButton(QStringLiteral("cmdIgnoreBetween"));

    tabOption = named(new QTabWidget, QStringLiteral("tabOption"));

    // Appearance.
    auto *appearance = new QWidget;
    auto *a = new QGridLayout(appearance);
    lblFont = named(new QLabel, QStringLiteral("lblFont"));
    lblFont->setFrameShape(QFrame::Panel);
    lblFont->setFrameShadow(QFrame::Sunken);
    cmdOpenFont = named(new QToolButton, QStringLiteral("cmdOpenFont"));
    cmdOpenFont->setIcon(fontPicture());
    cmdOpenFont->setToolTip(QStringLiteral("Choose the font of the data windows"));
    a->addWidget(new QLabel(QStringLiteral("Font used in data screens:")), 0, 0, 1, 6);
    auto *fontRow = new QHBoxLayout;
    fontRow->addWidget(lblFont, 1);
    fontRow->addWidget(cmdOpenFont);
    a->addLayout(fontRow, 1, 0, 1, 6);
    a->addWidget(new QLabel(QStringLiteral("Clear lists when they get larger than:")), 2, 0, 1, 6);
    auto *limits = new QHBoxLayout;
    limits->addWidget(txtMaxListLength);
    limits->addWidget(upRows);
    limits->addWidget(new QLabel(QStringLiteral("rows")));
    limits->addSpacing(12);
    limits->addWidget(new QLabel(QStringLiteral("or:")));
    limits->addWidget(txtMaxListSize);
    limits->addWidget(upKilobytes);
    limits->addWidget(new QLabel(QStringLiteral("kilobytes")));
    limits->addStretch(1);
    a->addLayout(limits, 3, 0, 1, 6);
    a->addWidget(chkClearAllLists, 4, 0, 1, 6);
    a->addWidget(chkCaseInsensitive, 5, 0, 1, 6);
    a->addWidget(chkVerboseLogging, 6, 0, 1, 6);
    a->setRowStretch(7, 1);

    // Details View.
    auto *details = new QWidget;
    auto *dv = new QVBoxLayout(details);
    auto *formatting = new QGroupBox(QStringLiteral(" Message Formatting"));
    auto *f = new QGridLayout(formatting);
    f->addWidget(new QLabel(QStringLiteral("Message separator:")), 0, 0);
    f->addWidget(cboMessage, 0, 1);
    f->addWidget(cmdMessageDetails, 0, 2);
    f->addWidget(new QLabel(QStringLiteral("Field Separator:")), 1, 0);
    f->addWidget(cboField, 1, 1);
    f->addWidget(cmdFieldDetails, 1, 2);
    f->addWidget(chkIgnoreBetween, 2, 0);
    f->addWidget(cboIgnoreBetween, 2, 1);
    f->addWidget(cmdIgnoreBetween, 2, 2);
    f->addWidget(chkMessageSeparator, 3, 0, 1, 3);
    f->addWidget(chkFieldSeparator, 4, 0, 1, 3);
    f->addWidget(chkConcatMsgSeps, 5, 0, 1, 3);
    f->setColumnStretch(1, 1);
    dv->addWidget(formatting);
    dv->addStretch(1);

    // Socket Handling.
    auto *sockets = new QWidget;
    auto *sv = new QVBoxLayout(sockets);
    auto *client = new QGroupBox(QStringLiteral(" Client"));
    auto *c = new QGridLayout(client);
    c->addWidget(chkAutoDisconnect, 0, 0, 1, 4);
    c->addWidget(chkAutoReconnect, 1, 0);
    c->addWidget(txtReconnectPeriod, 1, 1);
    c->addWidget(upReconnection, 1, 2);
    c->addWidget(new QLabel(QStringLiteral("mSecs")), 1, 3);
    c->setColumnStretch(4, 1);
    auto *passThrough = new QGroupBox(QStringLiteral(" Pass Through"));
    auto *p = new QVBoxLayout(passThrough);
    p->addWidget(chkMultipleClients);
    auto *note = new QLabel(QStringLiteral("(They will all receive the same information from the server.)"));
    note->setIndent(20);
    p->addWidget(note);
    cmdHTTPPassThrough = named(new QPushButton(QStringLiteral("Configure for HTTP Pass Through...")),
                               QStringLiteral("cmdHTTPPassThrough"));
    cmdHTTPPassThrough->setAutoDefault(false);
    p->addWidget(cmdHTTPPassThrough, 0, Qt::AlignLeft);
    sv->addWidget(client);
    sv->addWidget(passThrough);
    sv->addStretch(1);

    tabOption->addTab(appearance, QStringLiteral("Appearance"));
    tabOption->addTab(details, QStringLiteral("Details View"));
    tabOption->addTab(sockets, QStringLiteral("Socket Handling"));

    cmdOK = named(new QPushButton(QStringLiteral("OK")), QStringLiteral("cmdOK"));
    cmdCancel = named(new QPushButton(QStringLiteral("Cancel")), QStringLiteral("cmdCancel"));
    cmdOK->setDefault(true);
    cmdCancel->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabOption, 1);
    layout->addLayout(buttons);

    for (QWidget *w : m_textControls)
        w->installEventFilter(this);

    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(cmdHTTPPassThrough, &QPushButton::clicked, this, [this] { cmdHTTPPassThrough_Click(); });
    connect(cmdOpenFont, &QToolButton::clicked, this, [this] { cmdOpenFont_Click(); });
    connect(cmdMessageDetails, &QPushButton::clicked, this,
            [this] { showSeparatorDetails(Text::MessageSeparator); });
    connect(cmdFieldDetails, &QPushButton::clicked, this,
            [this] { showSeparatorDetails(Text::FieldSeparator); });
    connect(cmdIgnoreBetween, &QPushButton::clicked, this,
            [this] { showSeparatorDetails(Text::IgnoreBetweenText); });
    frmHelp::installHelpKey(this, [this] { return helpTopic(); });
    tabOption->setCurrentIndex(0);
    ShowFontDescription();
}

// ---------------------------------------------------------------- the model and the controls

void frmOptions::wireModel()
{
    OptionsModel *m = m_model;
    for (int i = 0; i < OptionsModel::kCheckCount; ++i) {
        const Check c = Check(i);
        QCheckBox *box = checkBox(c);
        showCheck(c);
        // A click (or a click() by code) is the user's change; states set
        // from the model are shown with the box's signals blocked.
        connect(box, &QCheckBox::clicked, this, [this, c, box](bool checked) {
            box->setTristate(false);
            if (m_model)
                m_model->setCheck(c, checked ? 1 : 0);
        });
    }
    for (int i = 0; i < OptionsModel::kTextCount; ++i) {
        const Text t = Text(i);
        showText(t);
        if (auto *c = qobject_cast<QComboBox *>(textControl(t)))
            connect(c, &QComboBox::editTextChanged, this, [this, t](const QString &text) {
                if (m_model)
                    m_model->setText(t, text);
            });
        else if (auto *e = qobject_cast<QLineEdit *>(textControl(t)))
            connect(e, &QLineEdit::textChanged, this, [this, t](const QString &text) {
                if (m_model)
                    m_model->setText(t, text);
            });
    }
    const std::array<std::pair<UpDown *, Text>, 3> spinners{{{upRows, Text::MaxListLength},
                                                             {upKilobytes, Text::MaxListSize},
                                                             {upReconnection, Text::ReconnectPeriod}}};
    for (const auto &[spinner, t] : spinners) {
        const Text text = t;
        connect(spinner, &UpDown::valueChanged, this, [this, text] {
            if (m_model)
                m_model->announce(text);
        });
    }
    applyEnabling();

    connect(m, &OptionsModel::checkChanged, this, [this](Check c) { showCheck(c); });
    connect(m, &OptionsModel::textChanged, this, [this](Text t) { showText(t); });
    connect(m, &OptionsModel::enablingChanged, this, [this] { applyEnabling(); });
    connect(m, &OptionsModel::hideRequested, this, [this] {
        hideViewers();
        hide();
    });
    connect(m, &OptionsModel::discarded, this, [this] {
        if (!m_discarding)
            deleteLater();
    });
}

void frmOptions::showCheck(Check c)
{
    QCheckBox *box = checkBox(c);
    const QSignalBlocker block(box);
    const int state = m_model ? m_model->check(c) : 0;
    box->setCheckState(state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void frmOptions::showText(Text t)
{
    if (!m_model)
        return;
    QWidget *w = textControl(t);
    const QString value = m_model->text(t);
    if (textOf(w) == value)
        return;
    const QSignalBlocker block(w);
    if (auto *c = qobject_cast<QComboBox *>(w))
        c->setEditText(value);
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        e->setText(value);
}

void frmOptions::applyEnabling()
{
    if (!m_model)
        return;
    const QString noFields = QStringLiteral("Fields are not split: choose a field separator first.");
    const bool ignoreOn = m_model->chkIgnoreBetweenEnabled();
    setEnabledWhy(chkIgnoreBetween, ignoreOn, noFields);
    const QString why =
        ignoreOn ? QStringLiteral("Tick \"Ignore field separators between\" first.") : noFields;
    setEnabledWhy(cboIgnoreBetween, m_model->cboIgnoreBetweenEnabled(), why);
    setEnabledWhy(cmdIgnoreBetween, m_model->cboIgnoreBetweenEnabled(), why);
    setEnabledWhy(chkAutoReconnect, m_model->chkAutoReconnectEnabled(),
                  QStringLiteral("Only when the connection is closed automatically (the box above)."));
    const QString periodWhy = QStringLiteral("Only when both boxes above are ticked.");
    setEnabledWhy(txtReconnectPeriod, m_model->txtReconnectPeriodEnabled(), periodWhy);
    setEnabledWhy(upReconnection, m_model->txtReconnectPeriodEnabled(), periodWhy);
    const bool viewers = bool(viewerFactory());
    const QString noViewer = QStringLiteral("No details viewer is available.");
    setEnabledWhy(cmdMessageDetails, viewers, noViewer);
    setEnabledWhy(cmdFieldDetails, viewers, noViewer);
    if (!viewers)
        setEnabledWhy(cmdIgnoreBetween, false, noViewer);
}

bool frmOptions::eventFilter(QObject *watched, QEvent *event)
{
    // Leaving a box announces its value; opening the combo's own list is not leaving.
    if (event->type() == QEvent::FocusOut && m_model &&
        static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) {
        for (int i = 0; i < OptionsModel::kTextCount; ++i) {
            if (watched == textControl(Text(i))) {
                m_model->announce(Text(i));
                break;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- buttons

void frmOptions::cmdOK_Click()
{
    hideViewers();
    if (m_model)
        m_model->cmdOK_Click();
    else
        hide();
}

void frmOptions::cmdCancel_Click()
{
    hideViewers();
    if (m_model)
        m_model->cmdCancel_Click();
    else
        hide();
}

void frmOptions::reject()
{
    cmdCancel_Click();
}

void frmOptions::closeEvent(QCloseEvent *event)
{
    // The close box drops the window and its unsaved edits; the next use
    // builds both again from the store. A hidden window closed with the
    // program keeps quiet.
    event->accept();
    if (!isVisible())
        return;
    m_discarding = true;
    if (m_model)
        m_model->discard();
    if (theWindow() == this)
        theWindow() = nullptr;
    deleteLater();
}

void frmOptions::cmdHTTPPassThrough_Click()
{
    if (!m_model || !tw::ui().askYesNo(this, kHttpQuestion, UiService::Icon::Question))
        return;
    m_model->setCheck(Check::AutoDisconnect, 1);
    m_model->setCheck(Check::AutoReconnect, 1);
    m_model->setText(Text::ReconnectPeriod, QStringLiteral("1000"));
    m_model->setCheck(Check::MultipleClients, 0);
}

void frmOptions::cmdOpenFont_Click()
{
    const std::optional<QFont> chosen = tw::ui().chooseFont(this, UserFont::current());
    if (!chosen)
        return;
    UserFont::choose(*chosen);
    ShowFontDescription();
}

void frmOptions::ShowFontDescription()
{
    lblFont->setText(UserFont::describe(UserFont::current()));
}

frmOptions::SeparatorViewer *frmOptions::ensureViewer(Text t)
{
    const int i = viewerIndex(t);
    if (i < 0)
        return nullptr;
    if (!m_viewers[size_t(i)] && viewerFactory())
        m_viewers[size_t(i)] = viewerFactory()(this);
    return m_viewers[size_t(i)].get();
}

void frmOptions::showSeparatorDetails(Text t)
{
    SeparatorViewer *v = ensureViewer(t);
    if (!v || !m_model)
        return;
    if (!v->window()->isVisible()) {
        v->window()->show();
        v->showAsCharacters();
    }
    v->window()->raise();
    const QString text = m_model->text(t);
    if (t == Text::FieldSeparator && text == OptionsModel::kNoSplitting) {
        v->AddDetails(QByteArray());
        return;
    }
    v->AddDetails(Bytes::FromEscaped(Bytes::fromText(text)));
}

void frmOptions::hideViewers()
{
    for (const auto &v : m_viewers) {
        if (v && v->window())
            v->window()->hide();
    }
}
