#include "display/supportclass.h"

#include "core/framing.h"
#include "core/optionssource.h"
#include "ui/frmwait.h"
#include "ui/uiservice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <memory>

namespace {
// Texts longer than this get a progress window.
constexpr qsizetype kProgressThreshold = 1000;
// The window appears only when the conversion outlasts this.
constexpr qint64 kShowProgressAfterMs = 1000;
// Pending events run after at most this much work (or this many characters),
// so Cancel and StopGettingRaw take effect promptly.
constexpr qint64 kSliceMs = 5;
constexpr qsizetype kSliceMaxChars = qsizetype(1) << 20;
// Work between two looks at the clock.
constexpr qsizetype kStepChars = qsizetype(1) << 16;
} // namespace

bool SupportClass::GetRaw(const QByteArray &strText, bool blnConvertEscapedChars, QByteArray &strRaw)
{
    // Our own reference to the text: the caller may pass one variable as
    // both text and result, and may change it while events run.
    const QByteArray text = strText;
    m_cancelled = false;
    m_stopped = false;
    strRaw.clear();
    if (!blnConvertEscapedChars) {
        strRaw = text;
        return true;
    }

    // Events run while converting: this object may go away meanwhile.
    const QPointer<SupportClass> self(this);
    Bytes::EscapeDecoder decoder(text);

    std::unique_ptr<frmWait> progress;
    float step = 0;
    if (text.size() > kProgressThreshold) {
        progress = std::make_unique<frmWait>();
        connect(progress.get(), &frmWait::Cancel, this, [this] { m_cancelled = true; });
        step = 100.0f / float(text.size());
    }

    QElapsedTimer sinceStart;
    sinceStart.start();
    QElapsedTimer slice;
    // Events run between slices of work, not after the last one: a short
    // conversion finishes at once, without re-entering its caller.
    while (!decoder.done()) {
        slice.start();
        const qsizetype sliceEnd = decoder.position() + kSliceMaxChars;
        do {
            decoder.step(qMin(kStepChars, sliceEnd - decoder.position()));
        } while (!decoder.done() && decoder.position() < sliceEnd && slice.elapsed() < kSliceMs);
        if (decoder.done())
            break;

        if (progress) {
            progress->SetPercent(qRound(float(decoder.position()) * step));
            if (!progress->isVisible() && sinceStart.elapsed() >= kShowProgressAfterMs) {
                progress->setLabel(QStringLiteral("Preparing data..."));
                progress->show();
            }
        }

        QCoreApplication::processEvents();
        if (!self)
            return false;
        if (m_cancelled || m_stopped)
            break;
    }

    if (progress) {
        progress->hide();
        progress.reset();
    }
    strRaw = decoder.takeResult();

    // A conversion stopped by its owner (a window closing, the exit) tells nothing.
    if (m_cancelled && !m_stopped) {
        tw::ui().message(nullptr, QStringLiteral("You have cancelled the operation.  No data will be sent."),
                         UiService::Icon::Information);
        return false;
    }
    return !m_stopped;
}

bool SupportClass::GetNextMessage(const QByteArray &strData, qint64 &lngScannedUpTo, QByteArray &strMessage,
                                  bool blnIncludeMessageSeparator, qint64 &intConsecMsgSeps)
{
    const OptionsSource &options = tw::options();
    return Framing::GetNextMessage(strData, lngScannedUpTo, strMessage, blnIncludeMessageSeparator, intConsecMsgSeps,
                                   options.GetMessageSeparator(), options.ConcatMesssageSeparators());
}

bool SupportClass::GetNextField(const QByteArray &strData, qint64 &lngScannedUpTo, QByteArray &strField,
                                bool blnIncludeFieldSeparator)
{
    const OptionsSource &options = tw::options();
    return Framing::GetNextField(strData, lngScannedUpTo, strField, blnIncludeFieldSeparator,
                                 options.GetFieldSeparator(), options.IgnoreFieldSepsBetween(),
                                 options.IgnoreFieldSepsBetweenText());
}
