#pragma once
// The suppression lists: customers who are not to be mailed, kept beside the
// vendor's other lists (bozos.txt and the rest) and editable by hand like
// them. One address a line, then optionally the day it was listed
// (YYYY-MM-DD) and free text saying why, all separated by blanks:
//
//   jane@example.com 2026-12-11 do not contact (Gumroad)
//   old@example.com 2026-12-11 550 5.1.1 user unknown
//   hand@example.com
//
// Blank lines and lines starting with "#" are comments; a line whose first
// word has no "@" is not a customer and is passed over. Letter case of an
// address is ignored. The program only ever adds lines; the vendor removes
// one to mail that customer again.

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace og {

// A customer asked not to be mailed (a store's "do not contact", an
// unsubscribe request).
inline constexpr char unsubscribedFileName[] = "unsubscribed.txt";
// Mail to the address came back undeliverable.
inline constexpr char bouncedFileName[] = "bounced.txt";

class SuppressionList {
public:
    struct Entry {
        QString address;
        QDate date;     // invalid when the line gives none
        QString reason; // the rest of the line, trimmed; may be empty
    };

    // The entries of the list file at path, in file order. A missing file is
    // an empty list and no error. A file that exists but cannot be read gives
    // an empty list and the system's reason in *error (when error is given);
    // *error is emptied otherwise.
    static SuppressionList read(const QString& path, QString* error);
    // The same from a file's text (for tests and the fuzz target).
    static SuppressionList fromText(const QString& text);

    bool contains(const QString& address) const { return find(address) != nullptr; }
    // The first entry for address, letter case ignored; nullptr when none.
    const Entry* find(const QString& address) const;
    const QList<Entry>& entries() const { return entries_; }
    qsizetype size() const { return entries_.size(); }
    bool isEmpty() const { return entries_.isEmpty(); }

    // One line of the file for entry, without its line end. Line breaks and
    // other control characters in the reason become blanks, so a reason from
    // a report or a mailbox can never add a line of its own.
    static QString line(const Entry& entry);
    // Whether address can stand as a line's first word: it holds an "@" and
    // no blank or control character.
    static bool isListableAddress(const QString& address);

    // Adds the entries whose address the file does not list yet (and each
    // address once), as CR LF lines at its end; a missing file is created.
    // The file is replaced whole once the new text is written (ReplacingFile),
    // so a failure leaves it as it was and never holds half a line. Entries
    // whose address isListableAddress() refuses are not written; their
    // addresses go to *skipped when given. Returns false with the system's
    // reason in *error when the file could not be read or written; true
    // (writing nothing) when every address is listed already. *added, when
    // given, is how many lines were written.
    static bool append(const QString& path, const QList<Entry>& entries, QString* error, QStringList* skipped = nullptr,
        qsizetype* added = nullptr);

private:
    static QString key(const QString& address) { return address.toCaseFolded(); }
    void add(Entry entry);

    QList<Entry> entries_;
    QHash<QString, qsizetype> index_; // folded address -> first entry
};

// Both lists of the vendor's lists folder, as a send run, the mailer window
// and the change report ask them: whether a customer is to be left out, and
// the words that say why.
class SuppressedAddresses {
public:
    // Reads unsubscribed.txt and bounced.txt in folder. False with the
    // file's path and the system's reason when one exists and cannot be
    // read (then nothing may be mailed on its word).
    bool read(const QString& folder, QString* error);
    // "unsubscribed 2026-12-11 unsubscribe request", "bounced 2026-12-11 550
    // 5.1.1": the list's word, then its line's day and reason as stored; the
    // customer's wish comes first when both lists hold the address. Empty
    // when neither does.
    QString why(const QString& address) const;
    const SuppressionList& bounced() const { return bounced_; }
    bool isEmpty() const { return bounced_.isEmpty() && unsubscribed_.isEmpty(); }

private:
    SuppressionList unsubscribed_, bounced_;
};

} // namespace og
