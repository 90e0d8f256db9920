#include "display/indicators.h"

#include <QLabel>
#include <QProgressBar>
#include <QtTest>

class TestIndicators : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void gaugeScaleFollowsTheBuffer_data();
    void gaugeScaleFollowsTheBuffer();
    void lampLightsAndDims();
};

void TestIndicators::gaugeScaleFollowsTheBuffer_data()
{
    QTest::addColumn<QList<qint64>>("lengths");
    QTest::addColumn<QList<int>>("percents");
    QTest::newRow("within the first scale") << QList<qint64>{10, 30, 60, 1000} << QList<int>{1, 3, 6, 100};
    QTest::newRow("grows by tens and shrinks back")
        << QList<qint64>{1001, 2500, 12345678, 0, 500} << QList<int>{10, 25, 12, 0, 50};
}

void TestIndicators::gaugeScaleFollowsTheBuffer()
{
    QFETCH(QList<qint64>, lengths);
    QFETCH(QList<int>, percents);
    PauseGaugeScale scale;
    QList<int> seen;
    for (const qint64 length : lengths)
        seen << scale.percentFor(length);
    QCOMPARE(seen, percents);

    PauseGauge gauge(1);
    gauge.setLength(lengths.last(), percents.last());
    QCOMPARE(gauge.text->text(), QString::number(lengths.last()) + QStringLiteral(" bytes buffered"));
    QCOMPARE(gauge.bar->value(), percents.last());
    gauge.setLength(0, 0);
    QVERIFY(gauge.text->text().isEmpty());
}

void TestIndicators::lampLightsAndDims()
{
    Lamp lamp(QStringLiteral("Data received"));
    const QColor idle = lamp.colour();
    lamp.light(Lamp::kReceived);
    QCOMPARE(lamp.colour(), QColor(255, 0, 0));
    lamp.dim();
    QCOMPARE(lamp.colour(), idle);
}

QTEST_MAIN(TestIndicators)
#include "tst_indicators.moc"
