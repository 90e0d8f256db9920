#include "ui/standardicons.h"

#include <QApplication>
#include <QHash>
#include <QPointer>

namespace {
// Lives as long as the application, so the pixmaps go before it does.
struct IconStore : QObject
{
    using QObject::QObject;
    QHash<int, QIcon> icons;
};
} // namespace

QIcon sharedStandardIcon(QStyle::StandardPixmap which)
{
    static QPointer<IconStore> store;
    if (!store)
        store = new IconStore(QCoreApplication::instance());
    auto it = store->icons.find(int(which));
    if (it == store->icons.end())
        it = store->icons.insert(int(which), QApplication::style()->standardIcon(which));
    return *it;
}
