#pragma once

#include <QByteArray>
#include <QWidget>

/// The receive filter. Stand-in until the filter is built: filtering is off
/// and every message passes.
class frmFilter : public QWidget
{
    Q_OBJECT
public:
    explicit frmFilter(QWidget *parent = nullptr);
    bool FilterOn() const { return false; }
    bool PassesFilter(const QByteArray &strMessage) const
    {
        Q_UNUSED(strMessage);
        return true;
    }
};
