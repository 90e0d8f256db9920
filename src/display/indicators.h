#pragma once

#include <QColor>
#include <QFrame>
#include <QWidget>

class QLabel;
class QProgressBar;

/// A lamp beside a data view: lit red while data arrives and blue while it is
/// sent, back to the button face when its owner says the moment has passed.
class Lamp : public QFrame
{
    Q_OBJECT
public:
    static inline const QColor kReceived{255, 0, 0};
    static inline const QColor kSent{0, 0, 255};

    explicit Lamp(const QString &tip, QWidget *parent = nullptr);
    /// A steady stream lights the lamp thousands of times a second; only a
    /// change of colour is painted.
    void light(const QColor &colour);
    void dim();
    QColor colour() const;
};

/// The scale of the pause gauge: the smallest power of ten from 1000 up that
/// holds the buffer, shrinking again as the buffer empties.
class PauseGaugeScale
{
public:
    /// How full the bar shows a buffer of this length, in percent.
    int percentFor(qint64 length);
    qint64 scale() const { return m_scale; }

private:
    qint64 m_scale = 1000;
};

/// The pause buffer's gauge: a bar and the text "n bytes buffered". The
/// text's place is kept from the start, so that no button beside the gauge
/// moves under the pointer when it appears.
class PauseGauge : public QWidget
{
    Q_OBJECT
public:
    /// The bar and the text are named after the tab's index.
    explicit PauseGauge(int index, QWidget *parent = nullptr);
    void setLength(qint64 length, int percent);

    QProgressBar *bar = nullptr;
    QLabel *text = nullptr;
};
