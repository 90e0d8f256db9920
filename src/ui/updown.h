#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

/// A pair of spin arrows bound to a number box: each press moves the box's
/// value by one step within the range and writes it back as text. Typing in
/// the box stays unrestricted; the arrows start from whatever it holds.
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

Q_SIGNALS:
    /// A press changed the box's value (a press at the end of the range does not).
    void valueChanged();

private:
    QLineEdit *m_buddy;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_min;
    int m_max;
    int m_step;
};
