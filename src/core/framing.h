#pragma once

#include <QByteArray>
#include <QByteArrayView>

/// Cutting data into messages and messages into fields. Both scanners take
/// the caller's scan position: the number of characters already consumed
/// (0 = start). They return true while more follows and reset the position
/// to 0 when they report that nothing follows.
namespace Framing {

/// The next message of data. With includeSeparator the message keeps the
/// separator(s) that end it; consecSeps says how many ended it (0 for the
/// unterminated rest). With concat, a run of separators counts as one end.
/// An empty separator never loops: the rest of the data is one message.
bool GetNextMessage(QByteArrayView data, qint64 &scannedUpTo, QByteArray &message, bool includeSeparator,
                    qint64 &consecSeps, QByteArrayView separator, bool concat);

/// The next field of a message. With ignoreBetween, separators between two
/// occurrences of ignoreText do not end the field (one ignored stretch per
/// field). An empty separator returns false and leaves field and position
/// untouched. An empty ignoreText ignores nothing.
bool GetNextField(QByteArrayView data, qint64 &scannedUpTo, QByteArray &field, bool includeSeparator,
                  QByteArrayView separator, bool ignoreBetween, QByteArrayView ignoreText);

} // namespace Framing
