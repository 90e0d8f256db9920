#include "sending/sendstatestore.h"
#include "support/testenv.h"

#include <QTest>

namespace {
const QString kSend = QStringLiteral("Send");
const QDateTime kNow(QDate(2026, 12, 5), QTime(14, 3, 9));
QStringList cells(const char *row)
{
    return QString::fromLatin1(row).split(QLatin1Char('|'));
}
} // namespace

class tst_SendStateStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void savedAndReadBack_data();
    void savedAndReadBack();
    void restored_data();
    void restored();
    void findFreeStateNumber_data();
    void findFreeStateNumber();
    void twoCopiesTakeTwoNumbers();
};

void tst_SendStateStore::savedAndReadBack_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("linkedFile");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("keepStored");
    QTest::addColumn<QString>("storedDescription");
    QTest::addColumn<QByteArray>("storedData");
    const QByteArray bytes("GET / HTTP/1.0\r\n\0\xFF\xA0 \\41\r\n\r", 26);
    QTest::newRow("every byte kind") << QStringLiteral("HTTP probe") << QString() << bytes << false
                                     << QStringLiteral("HTTP probe") << bytes;
    QTest::newRow("blank description") << QStringLiteral("  ") << QString() << QByteArray("x") << false
                                       << QStringLiteral("<No Desc 05 Dec 26>") << QByteArray("x");
    QTest::newRow("5000 characters") << QStringLiteral("d") << QString() << QByteArray(5000, 'd') << true
                                     << QStringLiteral("d") << QByteArray(5000, 'd');
    // The number may be an older state's: its data must not stay under these options.
    QTest::newRow("5001 characters") << QStringLiteral("d") << QString() << QByteArray(5001, 'd') << false
                                     << QStringLiteral("d") << QByteArray();
    QTest::newRow("5001 characters, stored kept") << QStringLiteral("d") << QString() << QByteArray(5001, 'd')
                                                  << true << QStringLiteral("d") << QByteArray("older data");
    QTest::newRow("linked") << QStringLiteral("l") << QStringLiteral("/data/script.txt") << QByteArray()
                            << true << QStringLiteral("l") << QByteArray();
}

void tst_SendStateStore::savedAndReadBack()
{
    QFETCH(QString, description);
    QFETCH(QString, linkedFile);
    QFETCH(QByteArray, data);
    QFETCH(bool, keepStored);
    TempSettings settings;
    settings.store().Save(QStringLiteral("Send\\4"), QStringLiteral("Data"), QStringLiteral("older data"));
    SendWindowState st;
    st.description = description;
    st.binary = st.pause = true;
    st.pauseFor = QStringLiteral("350");
    st.duration = QStringLiteral("30");
    st.left = 1500;
    st.width = 7000;
    st.linkedFile = linkedFile;
    st.data = data;
    // The stamp has English month names whatever the user's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const int writes = settings.store().writeCount();
    QVERIFY(
        !SendStateStore(settings.store())
             .save(4, st,
                   keepStored ? SendStateStore::DataTooLong::KeepStored : SendStateStore::DataTooLong::Clear,
                   kNow)
             .isError());
    QLocale::setDefault(QLocale::c());
    QCOMPARE(settings.store().writeCount(), writes + 1); // every key in one write

    settings.reopen(); // as the next run of the program reads it
    QCOMPARE(settings.store().Read(QStringLiteral("Send\\4"), QStringLiteral("Modified")),
             QStringLiteral("05 Dec 2026 14:03:09"));
    QTEST(settings.store().Read(kSend, QStringLiteral("4")), "storedDescription");
    const SendWindowState back = SendStateStore(settings.store()).load(4, QPoint(1, 2));
    QCOMPARE((QList<bool>{back.binary, back.pause, back.periodically}), (QList<bool>{true, true, false}));
    QCOMPARE((QStringList{back.pauseFor, back.onceEvery, back.duration, back.linkedFile}),
             (QStringList{st.pauseFor, st.onceEvery, st.duration, linkedFile}));
    QCOMPARE((QList<int>{back.left, back.top, back.width, back.height}), (QList<int>{1500, 0, 7000, 4020}));
    QTEST(back.data, "storedData");
}

void tst_SendStateStore::restored_data()
{
    // Stored "Left", "Top", "Width", "Height" and "Binary" (empty: not stored) on a screen of
    // 20000 x 15000 twips, from a window at (300, 400); restored geometry and box.
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QList<int>>("restored");
    QTest::newRow("on the screen") << cells("100|200|6000|5000|True") << QList<int>{100, 200, 6000, 5000, 1};
    QTest::newRow("beyond right and bottom")
        << cells("20001|15001|6000|5000| true") << QList<int>{19000, 14250, 6000, 5000, 1};
    QTest::newRow("above and left") << cells("-300|-1|6000|5000|yes please")
                                    << QList<int>{0, 0, 6000, 5000, 0};
    QTest::newRow("too small, too large")
        << cells("0|0|-5|9999999999999|False") << QList<int>{0, 0, 5730, 15000, 0};
    QTest::newRow("unreadable or missing") << cells("left||||") << QList<int>{300, 400, 5730, 4020, 0};
}

void tst_SendStateStore::restored()
{
    QFETCH(QStringList, stored);
    TempSettings settings;
    const QStringList keys = cells("Left|Top|Width|Height|Binary");
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (!stored[i].isEmpty())
            settings.store().Save(QStringLiteral("Send\\2"), keys[i], stored[i]);
    }
    settings.store().Save(kSend, QStringLiteral("2"), QStringLiteral("<No Description>"));
    SendWindowState st = SendStateStore(settings.store()).load(2, QPoint(300, 400));
    st.keepOnScreen(QSize(20000, 15000));
    QTEST((QList<int>{st.left, st.top, st.width, st.height, st.binary}), "restored");
    QCOMPARE(st.description, QString());
}

void tst_SendStateStore::findFreeStateNumber_data()
{
    // Keys of section "Send" with the "Modified" stamp of each numeric one
    // ("-" for none, anything unreadable counts as now).
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("stamps");
    QTest::addColumn<int>("expected");
    QStringList ten, stamps;
    for (int i = 0; i < 10; ++i) {
        ten << QString::number(i);
        stamps << QStringLiteral("1%1 Mar 2024 08:00:00").arg(i);
    }
    QStringList oldest = stamps;
    oldest[6] = oldest[4] = QStringLiteral("28 Feb 2024 23:59:59"); // equal: the lower one
    QStringList missing = stamps;
    missing[0] = QStringLiteral("-");
    missing[1] = QStringLiteral("rubbish");
    QStringList edited = stamps;
    edited[7] = QStringLiteral(" 1 mar  2024 7:00:00"); // as a hand edit may leave it: still the oldest
    edited[2] = QStringLiteral("29 Feb 2023 06:00:00"); // no such day: counts as now
    QTest::newRow("empty section") << QStringList() << QStringList() << 0;
    QTest::newRow("hand-edited stamps") << ten << edited << 7;
    QTest::newRow("0..9 taken: oldest") << ten << oldest << 4;
    QTest::newRow("no stamp counts as now") << ten << missing << 2;
    QTest::newRow("other keys count")
        << (QStringList(ten) << QStringLiteral("InitReadDir")) << (QStringList(stamps) << QString()) << 10;
    QTest::newRow("gap") << QStringList{QStringLiteral("0"), QStringLiteral("2")}
                         << QStringList{stamps[0], stamps[2]} << 1;
}

void tst_SendStateStore::findFreeStateNumber()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, stamps);
    TempSettings settings;
    SettingsStore &s = settings.store();
    for (qsizetype i = 0; i < keys.size(); ++i) {
        s.Save(kSend, keys[i], QStringLiteral("desc"));
        bool numeric = false;
        const int n = keys[i].toInt(&numeric);
        if (numeric && stamps[i] != QLatin1String("-"))
            s.Save(SendStateStore::stateSection(n), QStringLiteral("Modified"), stamps[i]);
    }
    QTEST(SendStateStore(s).FindFreeStateNumber(kNow), "expected");
}

void tst_SendStateStore::twoCopiesTakeTwoNumbers()
{
    // Both copies read the file before either saved: each number is chosen
    // from what is on disk when its state is written.
    TempSettings settings;
    SettingsStore other(settings.iniPath());
    SendWindowState a, b;
    a.description = QStringLiteral("first copy");
    b.description = QStringLiteral("second copy");
    int na = -1, nb = -1;
    QVERIFY(!SendStateStore(settings.store()).saveNew(a, na, kNow).isError());
    QVERIFY(!SendStateStore(other).saveNew(b, nb, kNow).isError());
    QCOMPARE((QList<int>{na, nb}), (QList<int>{0, 1}));
    settings.reopen();
    QCOMPARE(settings.store().Read(kSend, QStringLiteral("0")), a.description);
    QCOMPARE(settings.store().Read(kSend, QStringLiteral("1")), b.description);
}

QTEST_GUILESS_MAIN(tst_SendStateStore)
#include "tst_sendstatestore.moc"
