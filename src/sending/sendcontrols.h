#pragma once

#include "ui/updown.h"

#include <QLabel>

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
