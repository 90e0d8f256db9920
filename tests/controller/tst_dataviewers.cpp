#include "controller/mainwindowfixture.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/frmdetails.h"
#include "display/frmfilter.h"
#include "display/supportclass.h"
#include "sending/bytetextedit.h"
#include "sending/frmsend.h"

#include <QCheckBox>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>

class TestDataViewers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void detailsOpenAndFollowTheData();
    void filterHidesRowsAndShowsInTheStatusLine();
};

void TestDataViewers::detailsOpenAndFollowTheData()
{
    MainWindow m;
    QTcpServer server;
    const auto peer = m.connectClient(server);
    QVERIFY(peer);
    ModeControls &t = m.w->tabs[0];
    frmDetails *received = m.w->receivedDetails();
    frmDetails *sent = m.w->sentDetails();

    // Text view: the details button takes the 300 characters after the caret.
    peer->write("one\r\ntwo\r\n");
    QTRY_COMPARE(t.model->rowCount(), 2);
    t.txtReceived->setCaretOffset(5);
    t.cmdReceivedDetails->click();
    QCOMPARE(received->currentText(), QByteArray("two\r\n"));
    QVERIFY(received->isVisible());
    received->cmdOK->click();
    QVERIFY(!received->isVisible());

    // List view: the button and a double click take the selected row's message.
    t.chkReceivedFields->click();
    t.lvwReceived->setCurrentIndex(t.model->index(0, 0));
    t.cmdReceivedDetails->click();
    QCOMPARE(received->currentText(), QByteArray("one\r\n"));
    t.lvwReceived->setCurrentIndex(t.model->index(1, 0));
    Q_EMIT t.lvwReceived->doubleClicked(t.model->index(1, 0));
    QCOMPARE(received->currentText(), QByteArray("two\r\n"));

    // Auto-display: the newest row, on each viewer its own direction, without showing either.
    received->hide();
    received->chkTrackLatestData->setChecked(true);
    sent->chkTrackLatestData->setChecked(true);
    peer->write("three\r\n");
    QTRY_COMPARE(received->currentText(), QByteArray("three\r\n"));
    m.w->objSupport->SendDataDownSocket("out\r\n");
    QCOMPARE(sent->currentText(), QByteArray("out\r\n"));
    QCOMPARE(received->currentText(), QByteArray("three\r\n"));
    QVERIFY(!received->isVisible() && !sent->isVisible());

    // A send window's Details shows the window's own viewer, escapes converted.
    t.cmdSend->click();
    frmSend *send = frmSend::openWindows().constFirst();
    send->chkBinary->setChecked(true);
    send->txtSend->setData("hi\\0D\\0A");
    send->cmdDetails->click();
    QVERIFY(send->details()->isVisible() && send->details() != received);
    QCOMPARE(send->details()->currentText(), QByteArray("hi\r\n"));
    send->close();
}

void TestDataViewers::filterHidesRowsAndShowsInTheStatusLine()
{
    MainWindow m;
    QTcpServer server;
    const auto peer = m.connectClient(server);
    QVERIFY(peer);
    ModeControls &t = m.w->tabs[0];
    t.chkReceivedFields->click();
    t.cmdFilter->click();
    frmFilter *filter = m.w->filter();
    QVERIFY(filter->isVisible());
    filter->txtFilter[0]->setText(QStringLiteral("KEEP"));
    QVERIFY(m.w->statusPanel(3).isEmpty());
    filter->chkFilterOn->click();
    QCOMPARE(m.w->statusPanel(3), QStringLiteral("Filtering On "));

    // Received rows are filtered, sent rows never.
    m.opts.caseSensitive = false;
    peer->write("drop\r\nkeep me\r\n");
    QTRY_COMPARE(t.model->rowCount(), 1);
    m.w->objSupport->SendDataDownSocket("sent\r\n");
    QCOMPARE(t.model->rowCount(), 2);
    QCOMPARE(t.model->rawTag(0), QByteArray("keep me\r\n"));

    // The title bar only hides the window; shutting down closes it.
    QVERIFY(!filter->close());
    QVERIFY(!filter->isVisible());
    QVERIFY(m.w->filter());
    m.w->close();
    QVERIFY(m.w->blnAllowUnload);
}

QTEST_MAIN(TestDataViewers)
#include "tst_dataviewers.moc"
