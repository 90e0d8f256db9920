#pragma once

#include "core/oserror.h"
#include "options/settingsstore.h"

#include <QByteArray>
#include <QDateTime>
#include <QPoint>
#include <QSize>
#include <QString>

/// Everything a send window keeps of itself between runs. Geometry is in
/// twips; the height leaves out the options panel.
struct SendWindowState
{
    static constexpr int kMinWidthTwips = 5730;
    static constexpr int kMinHeightTwips = 4020;

    QString description;
    bool binary = false;
    bool pause = false;
    bool periodically = false;
    QString pauseFor = QStringLiteral("200");
    QString onceEvery = QStringLiteral("5000");
    QString duration = QStringLiteral("ever");
    int left = 0;
    int top = 0;
    int width = kMinWidthTwips;
    int height = kMinHeightTwips;
    /// The file the data box mirrors; empty when not linked.
    QString linkedFile;
    QByteArray data;

    /// An edge beyond the screen comes back to 95 % of it; the size stays
    /// between the window's minimum and the screen.
    void keepOnScreen(const QSize &screenTwips);
};

/// The saved send-window states in the settings store. Section "Send" lists
/// them by number (key n, the description) beside the folders of the file
/// dialogs; section "Send\n" holds state n.
class SendStateStore
{
public:
    /// Longer data is not kept with a state.
    static constexpr qsizetype kMaxStoredData = 5000;
    /// What a save does with the stored "Data" when the state's data does not fit.
    enum class DataTooLong
    {
        Clear,
        KeepStored
    };

    explicit SendStateStore(SettingsStore &store) : m_store(store) {}

    /// The number for a new state: the lowest number below the count of keys
    /// in "Send" (every key counts, only numeric ones take a number) that no
    /// state holds; else that count while it is below 10; else the state with
    /// the oldest "Modified" stamp (no stamp counts as now), which is reused.
    int FindFreeStateNumber(const QDateTime &now = QDateTime::currentDateTime()) const;

    /// Writes state n in one save. A blank description is stored as the
    /// placeholder of now's day; "Data" is emptied when the state is linked,
    /// and, when the data does not fit, emptied or left as it is stored.
    OsError save(int n, const SendWindowState &state, DataTooLong tooLong = DataTooLong::Clear,
                 const QDateTime &now = QDateTime::currentDateTime());
    /// Writes a new state under the number FindFreeStateNumber gives, both
    /// under the store's lock, so another copy of the program cannot take
    /// the same number meanwhile. The number is stored in n on success. An
    /// older state's data never stays under the number it takes over.
    OsError saveNew(const SendWindowState &state, int &n,
                    const QDateTime &now = QDateTime::currentDateTime());

    /// State n. What is missing keeps a fresh window's value (the position:
    /// hereTwips); a check box is on only for "True"; numbers are kept sane.
    SendWindowState load(int n, const QPoint &hereTwips) const;

    static bool fitsInStore(const QByteArray &data) { return data.size() <= kMaxStoredData; }
    /// The description of a state saved without one on the given day.
    static QString placeholderDescription(const QDate &date);
    static QString stateSection(int n);

private:
    static int freeNumber(const SettingsStore &store, const QDateTime &now);
    static SettingsStore::Changes changes(int n, const SendWindowState &state, DataTooLong tooLong,
                                          const QDateTime &now);

    SettingsStore &m_store;
};
