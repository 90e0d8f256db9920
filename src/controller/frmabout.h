#pragma once

#include <QDialog>

/// The about box: name, version and build, shown modally.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);
};
