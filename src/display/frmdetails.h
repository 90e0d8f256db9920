#pragma once

#include <QByteArray>
#include <QDialog>

/// The details viewer. Stand-in until the viewer is built: it keeps the
/// current text so callers can already hand data to it.
class frmDetails : public QDialog
{
    Q_OBJECT
public:
    explicit frmDetails(QWidget *parent = nullptr);
    void AddDetails(const QByteArray &strText) { m_text = strText; }
    void SetUserFont(const QFont &font) { Q_UNUSED(font); }
    QByteArray currentText() const { return m_text; }

private:
    QByteArray m_text;
};
