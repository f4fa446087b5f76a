#include "mailer/send/SendJournal.h"

#include "common/ReplacingFile.h"
#include "mailer/send/RunLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace og {

namespace {

// The words of the journal's lines: "<word> <address>", the copy's without.
const QString DataSentWord = QStringLiteral("data-sent");
const QString BegunWord = QStringLiteral("begun"); // older versions, before connecting
const QString CopyPrefix = QStringLiteral("copy-");
const QString FinishedWord = QStringLiteral("finished");
const QString MessageIdWord = QStringLiteral("message-id");
const QString RunMark = QStringLiteral("# ");
const QString DeferredUntilWord = QStringLiteral("deferred-until");

// What each word says of a customer (or, with copy, of the copy).
struct LineWord {
    bool copy;
    CustomerResult result;
};

const QHash<QString, LineWord>& lineWords()
{
    static const QHash<QString, LineWord> words = [] {
        QHash<QString, LineWord> all {{DataSentWord, {false, CustomerResult::Unknown}},
            {CopyPrefix + DataSentWord, {true, CustomerResult::Unknown}},
            {BegunWord, {false, CustomerResult::Unknown}}};
        for (const CustomerResult result : AllCustomerResults) {
            all.insert(journalWord(result), {false, result});
            all.insert(CopyPrefix + journalWord(result), {true, result});
        }
        return all;
    }();
    return words;
}

// A write cut short (a full disk, the machine gone) leaves a last line
// without its line end; what follows must not run on from it.
bool endsMidLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0 || !file.seek(file.size() - 1))
        return false;
    return file.read(1) != "\n";
}

} // namespace

bool SendJournal::State::done(const QString& address) const
{
    const auto found = results.constFind(address);
    return found != results.cend() && *found != CustomerResult::NotSent && *found != CustomerResult::Deferred;
}

QString SendJournal::pathFor(const QString& folder, const QString& addressFile, const QString& subject,
    const QStringList& bodyLines, const QStringList& attachments)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QStringList& part : {QStringList {QFileInfo(addressFile).absoluteFilePath(), subject}, bodyLines,
             QStringList {QString()}, attachments}) {
        for (const QString& text : part) {
            hash.addData(text.toUtf8());
            hash.addData(QByteArrayView("\n", 1));
        }
    }
    const QString code = QString::fromLatin1(hash.result().toHex().left(8));
    return QDir(folder).filePath(
        QStringLiteral("journal_") + QFileInfo(addressFile).completeBaseName() + u'_' + code + QStringLiteral(".txt"));
}

SendJournal::State SendJournal::read(const QString& path)
{
    State state;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        state.problem = file.exists() ? QStringLiteral("it cannot be read: ") + file.errorString()
                                      : QStringLiteral("it does not exist");
        return state;
    }
    bool empty = true;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        empty = empty && line.isEmpty();
        const qsizetype blank = line.indexOf(u' ');
        const QString word = blank < 0 ? line : line.left(blank);
        const QString address = blank < 0 ? QString() : line.mid(blank + 1);
        const auto found = lineWords().constFind(word);
        if (line.startsWith(RunMark)) {
            state.readable = true;
        } else if (word == DeferredUntilWord) {
            state.deferredUntil = QDateTime::fromString(address, Qt::ISODate);
        } else if (line == FinishedWord) {
            state.finished = state.readable = true;
        } else if (found != lineWords().cend() && found->copy) {
            state.copy = found->result;
            state.readable = true;
        } else if (found != lineWords().cend() && !address.isEmpty()) {
            state.results.insert(address, found->result);
            state.readable = true;
        }
    }
    if (!state.readable)
        state.problem = empty ? QStringLiteral("it is empty") : QStringLiteral("it holds no line of a journal");
    return state;
}

void SendJournal::open(const QString& path, bool resume, const QString& addressFile, const QString& subject)
{
    close();
    path_ = path;
    file_.setFileName(path);
    const bool torn = resume && endsMidLine(path);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | QIODevice::Unbuffered | (resume ? QIODevice::Append : QIODevice::Truncate);
    if (!file_.open(mode))
        throw SendFailure(writeFailureText(path, file_.errorString()));
    write((torn ? QStringLiteral("\n") : QString()) + RunMark + RunLog::timestamp() +
            (resume ? QStringLiteral(" resumed") : QStringLiteral(" run")) + QStringLiteral(" of \"") + subject +
            QStringLiteral("\" to ") + addressFile,
        false);
}

void SendJournal::close()
{
    if (file_.isOpen())
        file_.close();
}

void SendJournal::dataSent(const QString& address, const QString& messageId)
{
    QString id = messageId.trimmed();
    if (id.startsWith(u'<') && id.endsWith(u'>'))
        id = id.mid(1, id.size() - 2);
    // One durable write covers both lines.
    if (!id.isEmpty() && !id.contains(u' '))
        write(MessageIdWord + u' ' + id + u' ' + address, false);
    write(DataSentWord + u' ' + address, true);
}

QHash<QString, QString> SendJournal::messageIds(const QString& folder)
{
    QHash<QString, QString> ids;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("journal_*.txt")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (!line.startsWith(MessageIdWord + u' '))
                continue;
            const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
            if (words.size() >= 3)
                ids.insert(words[1], line.section(u' ', 2).trimmed());
        }
    }
    return ids;
}

void SendJournal::record(const QString& address, CustomerResult result)
{
    write(journalWord(result) + u' ' + address, true);
}

void SendJournal::copyDataSent()
{
    write(CopyPrefix + DataSentWord, true);
}

void SendJournal::recordCopy(CustomerResult result)
{
    write(CopyPrefix + journalWord(result), true);
}

void SendJournal::finish()
{
    write(FinishedWord, true);
}

void SendJournal::deferUntil(const QDateTime& when)
{
    write(DeferredUntilWord + u' ' + when.toUTC().toString(Qt::ISODate), true);
}

void SendJournal::write(const QString& line, bool durable)
{
    std::lock_guard lock(mutex_);
    if (!file_.isOpen())
        return;
    const QByteArray bytes = line.toUtf8() + "\n";
    QString reason;
    // Straight to the system, and to the disk once a customer's fate is
    // known: neither a killed program nor a lost machine may forget it.
    bool written = writeFully(file_.handle(), bytes.constData(), bytes.size(), &reason);
    if (written && durable && ::fdatasync(file_.handle()) != 0 && errno != EINVAL) {
        reason = QString::fromLocal8Bit(strerror(errno));
        written = false;
    }
    if (!written) {
        file_.close();
        throw SendFailure(writeFailureText(path_, reason));
    }
}

} // namespace og
