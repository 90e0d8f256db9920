#include "options/frmoptions.h"
#include "support/recordingevents.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"
#include "ui/updown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>
#include <memory>
#include <optional>

using Check = OptionsModel::Check;
using Text = OptionsModel::Text;

namespace {
// Records what the window hands its separator viewers.
struct FakeViewer : frmOptions::SeparatorViewer
{
    explicit FakeViewer(QWidget *owner) : w(new QWidget(owner, Qt::Window)) {}
    QWidget *window() override { return w; }
    void AddDetails(const QByteArray &bytes) override { shown = bytes; }
    void showAsCharacters() override { asCharacters = true; }
    QWidget *w;
    QByteArray shown = "untouched";
    bool asCharacters = false;
};

void leave(QWidget *box)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(box, &out);
}

QLineEdit *editOf(QWidget *control)
{
    if (auto *c = qobject_cast<QComboBox *>(control))
        return c->lineEdit();
    return qobject_cast<QLineEdit *>(control);
}
} // namespace

class TestFrmOptions : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TempSettings> m_settings;
    std::optional<RecordingEvents> m_log;
    std::optional<ScriptedUi> m_ui;
    frmOptions *m_w = nullptr;

    OptionsModel &model() { return *m_w->model(); }
    QStringList takeLines()
    {
        const QStringList l = m_log->lines;
        m_log->lines.clear();
        return l;
    }

private Q_SLOTS:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_log.emplace();
        m_ui.emplace();
        dropOptions();
        frmOptions::setViewerFactory([](QWidget *owner) { return std::make_unique<FakeViewer>(owner); });
        m_w = frmOptions::open();
        takeLines();
    }

    void cleanup()
    {
        frmOptions::setViewerFactory({});
        dropOptions();
        m_ui.reset();
        m_log.reset();
        m_settings.reset();
    }

    // A control of each kind announces the user's change once, in the history's own words.
    void announcements_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("input");  // "click", "up", "down", or the text typed before leaving
        QTest::addColumn<QString>("before"); // "split": fields split and ignore-between ticked; "reconnect"
        QTest::addColumn<QString>("line");

        const auto row = [](const char *name, const char *control, const char *input, const char *before,
                            const char *line) {
            QTest::newRow(name) << QString::fromUtf8(control) << QString::fromUtf8(input)
                                << QString::fromUtf8(before) << QString::fromUtf8(line);
        };
        row("verbose", "chkVerboseLogging", "click", "", "Verbose logging is ON");
        row("concat", "chkConcatMsgSeps", "click", "", "Message separator concatenation is OFF");
        row("message display", "chkMessageSeparator", "click", "", "Display of message separator is ON");
        row("ignore between", "chkIgnoreBetween", "click", "split",
            "Ignore field separator between a special character is OFF");
        row("auto reconnect", "chkAutoReconnect", "click", "", "Auto reconnection is ON");
        row("message separator", "cboMessage", ";", "", "The message separator is ';'");
        row("field separator", "cboField", "\\2C", "", "The field separator is '\\2C'");
        row("ignore text", "cboIgnoreBetween", "'", "split", "Ignore field separator string is '''");
        row("list size", "txtMaxListSize", "x1", "", "The maximum list size is x1 KBytes");
        row("period", "txtReconnectPeriod", "750", "reconnect", "The auto reconnection period is 750 mSecs");
        row("rows spinner", "upRows", "up", "", "The maximum list length is 110 rows");
        row("kilobytes spinner", "upKilobytes", "down", "", "The maximum list size is 0 KBytes");
        row("period spinner", "upReconnection", "up", "reconnect",
            "The auto reconnection period is 510 mSecs");
    }

    void announcements()
    {
        QFETCH(QString, control);
        QFETCH(QString, input);
        QFETCH(QString, before);
        QFETCH(QString, line);

        if (before == QLatin1String("split")) {
            model().setText(Text::FieldSeparator, QStringLiteral("\\09"));
            model().setCheck(Check::IgnoreBetween, 1);
        } else if (before == QLatin1String("reconnect")) {
            model().setCheck(Check::AutoReconnect, 1);
        }
        takeLines();
        QWidget *w = m_w->findChild<QWidget *>(control);
        QVERIFY(w);
        QVERIFY2(w->isEnabled(), "the control must be usable for this step");
        if (input == QLatin1String("click")) {
            qobject_cast<QCheckBox *>(w)->click();
        } else if (auto *spinner = qobject_cast<UpDown *>(w)) {
            (input == QLatin1String("up") ? spinner->upButton() : spinner->downButton())->click();
        } else {
            QLineEdit *edit = editOf(w);
            edit->clear();
            QTest::keyClicks(edit, input);
            QVERIFY(takeLines().isEmpty()); // typing alone announces nothing
            leave(w);
        }
        QCOMPARE(takeLines(), QStringList{line});
    }

    // Edits are live at once. OK keeps them and Cancel shows the store's values
    // again, both hiding the window; the close box drops the window with its
    // edits, and the next use builds it from the store.
    void endings_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("lengthShown");
        QTest::newRow("OK") << QStringLiteral("OK") << QStringLiteral("300");
        QTest::newRow("Cancel") << QStringLiteral("Cancel") << QStringLiteral("100");
        QTest::newRow("close box") << QStringLiteral("close") << QStringLiteral("100");
    }

    void endings()
    {
        QFETCH(QString, ending);
        m_w->chkVerboseLogging->click();
        m_w->txtMaxListLength->setText(QStringLiteral("300"));
        QVERIFY(tw::options().VerboseLogging());
        QCOMPARE(tw::options().GetMaxListLength(), 300);
        QPointer<frmOptions> w = m_w;
        if (ending == QLatin1String("close")) {
            m_w->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!w);
            m_w = frmOptions::open();
        } else {
            (ending == QLatin1String("OK") ? m_w->cmdOK : m_w->cmdCancel)->click();
            QVERIFY(w && !w->isVisible());
        }
        QTEST(m_w->txtMaxListLength->text(), "lengthShown");
        QCOMPARE(m_w->chkVerboseLogging->isChecked(), ending == QLatin1String("OK"));
        QCOMPARE(tw::options().VerboseLogging(), ending == QLatin1String("OK"));
    }

    void httpPassThrough_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("No") << false << QStringList{};
        QTest::newRow("Yes") << true
                             << QStringList{
                                    QStringLiteral("Auto reconnection is ON"),
                                    QStringLiteral("Allowing multiple client to connect in Pass Through mode "
                                                   "is OFF")};
    }

    void httpPassThrough()
    {
        QFETCH(bool, yes);
        model().setCheck(Check::MultipleClients, 1);
        takeLines();
        m_ui->yesNoAnswers.enqueue(yes);
        m_w->cmdHTTPPassThrough->click();
        QCOMPARE(m_ui->prompts.size(), 1);
        QCOMPARE(m_ui->prompts[0].icon, UiService::Icon::Question);
        QTEST(takeLines(), "lines");
        QCOMPARE(m_w->txtReconnectPeriod->text(), yes ? QStringLiteral("1000") : QStringLiteral("500"));
        QCOMPARE(m_w->txtReconnectPeriod->isEnabled(), yes);
        QCOMPARE(m_w->chkMultipleClients->isChecked(), !yes);
    }

    void separatorDetails_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("shown");
        const auto row = [](const char *name, const char *button, const char *combo, const char *text,
                            const QByteArray &shown) {
            QTest::newRow(name) << QString::fromLatin1(button) << QString::fromLatin1(combo)
                                << QString::fromLatin1(text) << shown;
        };
        row("message", "cmdMessageDetails", "cboMessage", "\\0D\\0A", "\r\n");
        row("no splitting", "cmdFieldDetails", "cboField", "<No message splitting>", "");
        row("field", "cmdFieldDetails", "cboField", "a\\5C\\FF", "a\\\xFF");
    }

    void separatorDetails()
    {
        QFETCH(QString, button);
        QFETCH(QString, combo);
        QFETCH(QString, text);
        FakeViewer *made = nullptr;
        frmOptions::setViewerFactory([&made](QWidget *owner) {
            auto v = std::make_unique<FakeViewer>(owner);
            made = v.get();
            return v;
        });
        delete m_w; // the factory is read when a window is made
        m_w = frmOptions::open();
        m_w->findChild<QComboBox *>(combo)->setEditText(text);
        m_w->findChild<QPushButton *>(button)->click();
        QVERIFY(made);
        QVERIFY(made->w->isVisible());
        QVERIFY(made->asCharacters);
        QTEST(made->shown, "shown");
        // OK hides the viewers with the window.
        m_w->cmdOK->click();
        QVERIFY(!made->w->isVisible());
    }
};

QTEST_MAIN(TestFrmOptions)
#include "tst_frmoptions.moc"
