#include "ui/userfont.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <charconv>
#include <optional>

namespace {
const char *const kAppliedProperty = "tw_userFontGeneration";

// Gives the font to windows as they are first shown (and again if the font
// changed while they were hidden).
class ShowWatcher : public QObject
{
public:
    std::function<void(QWidget *, const QFont &)> applier;
    std::optional<QFont> chosen;
    int generation = 1;

    QFont font() const { return chosen ? *chosen : QFontDatabase::systemFont(QFontDatabase::FixedFont); }

    void apply(QWidget *w)
    {
        if (!applier || w->property(kAppliedProperty).toInt() == generation)
            return;
        w->setProperty(kAppliedProperty, generation);
        applier(w, font());
    }

    void applyToOpenWindows()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows)
            apply(w);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *w = static_cast<QWidget *>(watched);
            if (w->isWindow())
                apply(w);
        }
        return false;
    }
};

ShowWatcher &watcher()
{
    static ShowWatcher w;
    return w;
}
} // namespace

namespace UserFont {

QFont current()
{
    return watcher().font();
}

void choose(const QFont &font)
{
    ShowWatcher &w = watcher();
    w.chosen = font;
    ++w.generation;
    w.applyToOpenWindows();
}

void setApplier(std::function<void(QWidget *, const QFont &)> applier)
{
    ShowWatcher &w = watcher();
    const bool had = bool(w.applier);
    w.applier = std::move(applier);
    if (w.applier && !had && qApp)
        qApp->installEventFilter(&w);
    else if (!w.applier && had && qApp)
        qApp->removeEventFilter(&w);
    ++w.generation;
    w.applyToOpenWindows();
}

QString sizeText(double pointSize)
{
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, float(pointSize));
    return QString::fromLatin1(buffer, r.ptr - buffer);
}

QString describe(const QFont &font)
{
    // The family the system matched, not the one asked for (which may not exist here).
    const QFontInfo info(font);
    const double size = font.pointSizeF() > 0 ? font.pointSizeF() : info.pointSizeF();
    QString s = info.family() + QStringLiteral(", ") + sizeText(size) + QStringLiteral("pt");
    if (font.bold())
        s += QStringLiteral(", Bold");
    if (font.italic())
        s += QStringLiteral(", Italic");
    return s;
}

} // namespace UserFont
