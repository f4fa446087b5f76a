#pragma once
// What the bounce check keeps between runs, in one file in the program
// folder: the messages already read, by account, folder and UID (a folder
// whose UIDVALIDITY changed is read afresh), so a second read adds nothing
// twice; and each address's soft bounces, until three of them on different
// days suppress it.
//
// The file, one entry a line ("#" lines are comments):
//   read ACCOUNT FOLDER UIDVALIDITY UIDS     UIDS as ranges: 1-5,9,12-13
//   soft ADDRESS YYYY-MM-DD MESSAGE-ID       "-" when the bounce named none
// ACCOUNT ("user@host:port") and FOLDER percent-encoded.

#include <QDate>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

namespace og {

class ReadState {
public:
    // The file's name in the program folder.
    static QString pathIn(const QString& folder);

    // A missing file is an empty state. False with the reason when the file
    // is there but cannot be read.
    bool load(const QString& path, QString* why);
    // Replaces the file whole. False with the reason.
    bool save(const QString& path, QString* why) const;

    // The UIDs already read in the folder, when its UIDVALIDITY is still
    // the one they were read under.
    QSet<quint32> readUids(const QString& account, const QString& folder, quint32 uidValidity) const;
    void markRead(const QString& account, const QString& folder, quint32 uidValidity, quint32 uid);

    // Notes a soft bounce of the message with this Message-ID (a message's
    // repeated delay notices count once). True when the address has now
    // bounced softly on three different days: it is then forgotten here,
    // as it goes onto the bounce list.
    bool softBounce(const QString& address, const QDate& day, const QString& messageId);
    // A hard bounce or an unsubscribe ends an address's soft history.
    void forget(const QString& address);
    int softBounceDays(const QString& address) const;

    static constexpr int SoftBouncesToSuppress = 3;

private:
    struct Folder {
        quint32 uidValidity = 0;
        QSet<quint32> uids;
    };
    struct Soft {
        QDate day;
        QString messageId;
    };
    QHash<QString, Folder> folders_; // by account + "\n" + folder
    QHash<QString, QList<Soft>> soft_;
};

} // namespace og
