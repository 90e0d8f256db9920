#include "ui/updown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

UpDown::UpDown(QLineEdit *buddy, int minimum, int maximum, int step, QWidget *parent)
    : QWidget(parent), m_buddy(buddy), m_min(minimum), m_max(maximum), m_step(step)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(this);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(16, 11);
        layout->addWidget(b);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void UpDown::stepBy(int steps)
{
    // The arrows follow whatever the box holds, kept inside their range.
    bool ok = false;
    const qint64 current = m_buddy->text().trimmed().toLongLong(&ok);
    const qint64 from = ok ? std::clamp<qint64>(current, m_min, m_max) : m_min;
    const qint64 to = std::clamp<qint64>(from + qint64(steps) * m_step, m_min, m_max);
    const QString text = QString::number(to);
    if (text == m_buddy->text())
        return;
    m_buddy->setText(text);
    Q_EMIT valueChanged();
}
