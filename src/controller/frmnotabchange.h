#pragma once

#include <QDialog>

/// The notice shown when the mode cannot change because a socket is in use.
class frmNoTabChange : public QDialog
{
    Q_OBJECT
public:
    explicit frmNoTabChange(QWidget *owner);
    static QString noticeText();
};
