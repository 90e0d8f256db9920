#include "sending/sendlist.h"

#include "options/settingsstore.h"

QList<SavedSendState> savedSendStates(const SettingsStore &store)
{
    QList<SavedSendState> out;
    const auto pairs = store.ReadAll(QStringLiteral("send"));
    for (const auto &[key, value] : pairs) {
        bool ok = false;
        const int n = key.trimmed().toInt(&ok);
        if (ok)
            out.append({n, value});
    }
    return out;
}
