#include "display/supportclass.h"

#include "core/eventlog.h"
#include "core/frmtimer.h"
#include "core/optionssource.h"
#include "display/datalistmodel.h"
#include "display/datatextview.h"
#include "display/supporthost.h"
#include "ui/frmwait.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
// The progress window appears when a display outlasts this.
constexpr int kProgressDelayMs = 1000;
// Pending events run after this much display work, so a flood of messages
// neither freezes the window nor pays for an event-loop turn per message.
constexpr qint64 kSliceMs = 8;
// The slice clock is read after this many messages or bytes, whichever
// comes first.
constexpr int kMessagesPerClockRead = 16;
constexpr qint64 kBytesPerClockRead = 16 * 1024;
// Width of the field columns.
constexpr int kFieldColumnTwips = 1200;
constexpr int kPassThroughTab = 2;

void dropOneSeparator(QByteArray &text, const QByteArray &separator)
{
    if (!separator.isEmpty() && text.endsWith(separator))
        text.chop(separator.size());
}
} // namespace

bool SupportClass::ShouldDisplay(bool blnInput) const
{
    if (!m_host)
        return false;
    const int position = m_host->showPosition(m_host->currentMode());
    return blnInput ? (position == 0 || position == 1) : (position == 0 || position == 2);
}

void SupportClass::DisplayData(bool blnIncoming, const QByteArray &strData, DataListModel *list, DataTextView *text,
                               bool blnSocketReady, bool blnShowIcons, bool blnApplyFilter,
                               const QString &strSocketLabel)
{
    PendingDisplay job{blnIncoming, strData,       list,          text, blnSocketReady,
                       blnShowIcons, blnApplyFilter, strSocketLabel};
    // Events run inside a display, so data may arrive while one is running:
    // it waits its turn, and rows and text stay in the order of arrival.
    if (m_displayRunning) {
        m_displayQueue.append(std::move(job));
        return;
    }
    if (!m_progressHooked) {
        m_progressHooked = true;
        connect(m_tmrProgress, &frmTimer::TimerFired, this, [this] {
            if (!m_displayRunning)
                return;
            frmWait *progress = progressWindow();
            progress->setLabel(QStringLiteral("Parsing the data..."));
            progress->show();
        });
    }

    m_displayRunning = true;
    bool alive = runDisplay(job);
    while (alive && !m_displayQueue.isEmpty())
        alive = runDisplay(m_displayQueue.takeFirst());
    if (alive)
        m_displayRunning = false;
}

bool SupportClass::runDisplay(const PendingDisplay &job)
{
    m_cancelled = false;
    m_tmrProgress->StartTimer(kProgressDelayMs, true);

    const QPointer<SupportClass> self(this);
    const QByteArray &data = job.strData;
    DataListModel *list = job.list.data();
    const bool passThrough = list && m_host && m_host->dataList(kPassThroughTab) == list;
    const QString direction = passThrough ? (job.blnIncoming ? QStringLiteral("S2C") : QStringLiteral("C2S"))
                                          : (job.blnIncoming ? QStringLiteral("In") : QStringLiteral("Out"));
    const QString socketLabel = job.strSocketLabel.isEmpty() ? QStringLiteral("NA") : job.strSocketLabel;
    const DataListModel::RowIcon icon = !job.blnShowIcons ? DataListModel::RowIcon::None
                                        : job.blnSocketReady ? DataListModel::RowIcon::Tick
                                                             : DataListModel::RowIcon::Unplugged;

    if (list)
        list->beginBatch();
    bool rowAdded = false;
    int shownPercent = -1;
    qint64 position = 0;
    bool more = false;
    QElapsedTimer slice;
    slice.start();
    // The clock is read every few short messages or fields, not after each
    // one: in a flood of short lines reading it would cost more than a row.
    int sinceClock = 0;
    qint64 bytesSinceClock = 0;
    // Lets pending events run once a slice is used up; false when this
    // object went meanwhile.
    const auto takeTurn = [&](qint64 bytes) {
        bytesSinceClock += bytes;
        if (++sinceClock < kMessagesPerClockRead && bytesSinceClock < kBytesPerClockRead)
            return true;
        sinceClock = 0;
        bytesSinceClock = 0;
        if (slice.elapsed() < kSliceMs)
            return true;
        if (list)
            list->flushSoon();
        QCoreApplication::processEvents();
        if (!self) {
            if (job.list)
                job.list->endBatch();
            return false;
        }
        list = job.list.data();
        slice.restart();
        return true;
    };
    qint64 scanned = 0;
    do {
        if (!takeTurn(position - scanned))
            return false;
        scanned = position;
        if (m_cancelled)
            break;

        QByteArray message;
        qint64 consecutive = 0;
        more = GetNextMessage(data, position, message, true, consecutive);

        if (m_progress && !data.isEmpty()) {
            const int percent = qRound(double(position) / double(data.size()) * 100.0);
            if (percent != shownPercent) {
                shownPercent = percent;
                m_progress->SetPercent(percent);
            }
        }

        if (job.blnApplyFilter && m_host && m_host->filterOn() && !m_host->passesFilter(message))
            continue;
        if (!list)
            continue;

        const OptionsSource &options = tw::options();
        const qint32 maxLength = options.GetMaxListLength();
        const qint32 maxSize = options.GetMaxListSize();
        DataTextView *text = job.text.data();
        const bool sizeReached = text && text->length() >= maxSize;
        if (list->heldRowCount() >= maxLength || sizeReached) {
            if (text)
                text->clear();
            list->clear();
            tw::events().AddEvent(QStringLiteral("Cleared the window because the amount of data exceeded ")
                                  + (sizeReached ? QString::number(maxSize) + QStringLiteral(" bytes.")
                                                 : QString::number(maxLength) + QStringLiteral(" rows.")));
        }

        DataListModel::NewRow row;
        row.incoming = job.blnIncoming;
        row.icon = icon;
        row.direction = direction;
        row.socket = socketLabel;
        row.raw = message;

        if (tw::options().SpiltMessageIntoFields()) {
            if (list->headerText(DataListModel::ColMessage).compare(QStringLiteral("field 1"), Qt::CaseInsensitive)
                != 0) {
                list->setColumnWidthTwips(DataListModel::ColMessage, kFieldColumnTwips);
                list->setHeaderText(DataListModel::ColMessage, QStringLiteral("Field 1"));
            }
            const bool split = !tw::options().GetFieldSeparator().isEmpty();
            qint64 fieldPosition = 0;
            bool moreFields = false;
            do {
                const qint64 fieldStart = fieldPosition;
                QByteArray field;
                // Without a field separator the rest of the message is one
                // field; so it is in the last column the list allows.
                if (split && row.cells.size() + 1 < kMaxFieldColumns) {
                    moreFields =
                        GetNextField(message, fieldPosition, field, tw::options().DisplayFieldSeparator());
                } else {
                    field = message.mid(fieldPosition);
                    moreFields = false;
                }
                if (!moreFields && !tw::options().DisplayMessageSeparator())
                    dropOneSeparator(field, tw::options().GetMessageSeparator());
                row.cells.append(GetChar(field));
                if (moreFields && !takeTurn(fieldPosition - fieldStart))
                    return false;
            } while (moreFields && !m_cancelled);
            if (!list || m_cancelled)
                continue;
            // The row's new columns arrive in one insertion.
            QList<DataListModel::Column_> columns;
            for (int c = list->columnCount(); c < row.cells.size() + DataListModel::ColMessage; ++c)
                columns.append({QStringLiteral("Field ") + QString::number(c - 3), kFieldColumnTwips});
            list->appendColumns(columns);
        } else {
            list->setHeaderText(DataListModel::ColMessage, QStringLiteral("Message"));
            // The cell is the message, less one separator unless those are
            // shown, escaped; the list makes it from the raw message when
            // it is shown.
            row.cellFromRawChop = 0;
            if (!tw::options().DisplayMessageSeparator()) {
                const QByteArray separator = tw::options().GetMessageSeparator();
                if (!separator.isEmpty() && message.endsWith(separator))
                    row.cellFromRawChop = separator.size();
            }
        }
        list->appendRow(std::move(row));
        rowAdded = true;
    } while (more && !m_cancelled);

    if (list) {
        list->endBatch();
        // Selecting and revealing the last row once per arrival (or, in a
        // flood with the list shown, per pace), rather than per message,
        // keeps floods cheap; the outcome is the same.
        if (rowAdded)
            list->showLastRowSoon();
    }

    // The text view gets the whole data, shown messages or not, and keeps
    // to its size limit even when no message got a row (the filter let none
    // through): otherwise it would grow without bound.
    if (DataTextView *text = job.text.data()) {
        const qint32 maxSize = tw::options().GetMaxListSize();
        if (!rowAdded && text->length() >= maxSize) {
            text->clear();
            if (DataListModel *rows = job.list.data())
                rows->clear();
            tw::events().AddEvent(QStringLiteral("Cleared the window because the amount of data exceeded ") +
                                  QString::number(maxSize) + QStringLiteral(" bytes."));
        }
        text->append(GetChar2(data), job.blnIncoming);
    }

    m_tmrProgress->StopTimer();
    if (m_progress)
        m_progress->hide();
    return true;
}
