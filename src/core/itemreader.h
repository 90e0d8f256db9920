#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>

/// The comma-separated item syntax of the program's data files (the protocol
/// library, the server and port almanacs), read from bytes:
/// - items are separated by commas or line breaks (CR LF, a lone CR, a lone LF);
/// - blanks (space, TAB) and line breaks before an item are skipped, so a
///   record may carry on on the next line after a trailing comma;
/// - an unquoted item runs to the next comma or line break; its trailing
///   blanks are dropped;
/// - an item in double quotes runs to the closing quote and keeps every byte
///   in between, commas, blanks and line breaks included; the quotes are not
///   part of it, and a double quote cannot occur inside it; anything after the
///   closing quote up to the next comma or line break is ignored;
/// - an empty item is written "" (or as nothing between two commas).
class ItemReader
{
public:
    enum class Status
    {
        Item,         // an item was read
        End,          // no item is left
        UnclosedQuote // the quote opening at problemOffset() never closes; nothing more is read
    };

    explicit ItemReader(QByteArrayView data) : m_data(data) {}

    /// The next item.
    Status next(QByteArray &item);
    /// Bytes consumed so far.
    qsizetype position() const { return m_pos; }
    /// Where the item that failed begins (-1 while nothing failed).
    qsizetype problemOffset() const { return m_problem; }

    /// Groups the items into records of itemsPerRecord items each.
    struct Records
    {
        enum class Problem
        {
            None,
            UnclosedQuote, // an item's quote never closes
            ShortRecord    // the data ends inside a record
        };
        QList<QByteArrayList> records; // the complete records, in order
        Problem problem = Problem::None;
        qsizetype problemOffset = -1; // first byte of the broken item or record
        int problemLine = 0;          // its line, counted from 1
        QByteArrayList partial;       // the items of a record cut short
    };
    static Records readRecords(QByteArrayView data, int itemsPerRecord);

    /// The line (from 1) holding byte offset; CR LF, lone CR and lone LF each end a line.
    static int lineAt(QByteArrayView data, qsizetype offset);

private:
    void skipLineBreak();

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    qsizetype m_problem = -1;
};
