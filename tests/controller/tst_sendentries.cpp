#include "controller/frmtarnwell.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"
#include "support/testenv.h"
#include "ui/scriptedui.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

// The main window's two ways into send windows: Send... opens a new one, an
// entry of a send list reopens that saved state, and every save refreshes both lists.
class tst_SendEntries : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newWindowSaveAndReopen();
};

void tst_SendEntries::newWindowSaveAndReopen()
{
    TempSettings settings;
    ScriptedUi ui;
    frmTarnwell main;
    QVERIFY(main.Load());
    QTest::mouseClick(main.findChild<QPushButton *>(QStringLiteral("cmdSend_1")), Qt::LeftButton);
    QCOMPARE(frmSend::openWindows().size(), 1);
    QPointer<frmSend> w = frmSend::openWindows().first();
    QVERIFY(w->IsNewWindow && w->isVisible());
    w->txtTitle->setText(QStringLiteral("saved from the server tab"));
    w->txtSend->setData("hello\r\n");
    w->close();
    QTRY_VERIFY(w.isNull());

    for (int tab = 0; tab < 2; ++tab) {
        QComboBox *cbo = main.findChild<QComboBox *>(QStringLiteral("cboSend_%1").arg(tab));
        QCOMPARE(cbo->count(), 1);
        QCOMPARE(cbo->itemText(0), QStringLiteral("saved from the server tab"));
    }
    Q_EMIT main.findChild<QComboBox *>(QStringLiteral("cboSend_0"))->activated(0);
    QCOMPARE(frmSend::openWindows().size(), 1);
    frmSend *r = frmSend::openWindows().first();
    QVERIFY(!r->IsNewWindow);
    QCOMPARE(r->txtSend->data(), QByteArray("hello\r\n"));
    delete r;
    main.Unload();
}

QTEST_MAIN(tst_SendEntries)
#include "tst_sendentries.moc"
