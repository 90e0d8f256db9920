#pragma once

#include <QWidget>

/// The splash window: name, version and build while the program starts.
/// A key press or a click closes it at once.
class frmSplash : public QWidget
{
    Q_OBJECT
public:
    explicit frmSplash(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
};
