#pragma once

#include <QLabel>
#include <QWidget>

class QLineEdit;
class QToolButton;

/// A label that reports a click, so its text can toggle the box beside it.
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ClickLabel(const QString &text, QWidget *parent = nullptr);

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

/// A pair of spin arrows bound to a number box: each press moves the box's
/// value by one step within the range and writes it back as text.
class UpDown : public QWidget
{
    Q_OBJECT
public:
    UpDown(QLineEdit *buddy, int minimum, int maximum, int step, QWidget *parent = nullptr);

    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    int singleStep() const { return m_step; }
    /// One press up (+1) or down (-1).
    void stepBy(int steps);
    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

private:
    QLineEdit *m_buddy;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_min;
    int m_max;
    int m_step;
};
