#include "display/indicators.h"

#include "ui/objectnames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

Lamp::Lamp(const QString &tip, QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setFixedSize(14, 14);
    setAutoFillBackground(true);
    setToolTip(tip);
    dim();
}

void Lamp::light(const QColor &colour)
{
    if (palette().color(QPalette::Window) == colour)
        return;
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    setPalette(p);
}

void Lamp::dim()
{
    light(palette().color(QPalette::Button));
}

QColor Lamp::colour() const
{
    return palette().color(QPalette::Window);
}

int PauseGaugeScale::percentFor(qint64 length)
{
    while (m_scale < length)
        m_scale *= 10;
    while (m_scale >= 1001 && m_scale / 10 > length)
        m_scale /= 10;
    return int(double(length) / double(m_scale) * 100.0);
}

PauseGauge::PauseGauge(int index, QWidget *parent) : QWidget(parent)
{
    bar = new QProgressBar;
    bar->setObjectName(indexedName("panReceivePausePerc", index));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedWidth(50);
    bar->setToolTip(QStringLiteral("Size of pause buffer"));
    text = new QLabel;
    text->setObjectName(indexedName("lblReceivePausePerc", index));
    text->setToolTip(QStringLiteral("Size of pause buffer"));
    text->setFixedWidth(text->fontMetrics().horizontalAdvance(QStringLiteral("99999999 bytes buffered")) + 4);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar);
    layout->addWidget(text);
}

void PauseGauge::setLength(qint64 length, int percent)
{
    if (length > 0) {
        text->setText(QString::number(length) + QStringLiteral(" bytes buffered"));
        bar->setValue(percent);
    } else {
        text->clear();
        bar->setValue(0);
    }
}
