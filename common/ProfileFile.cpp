#include "common/ProfileFile.h"

#include "common/ReplacingFile.h"
#include "common/TextFiles.h"
#include "common/Trim.h"

#include <QFile>
#include <QFileInfo>
#include <vector>

namespace og {

ProfileWriteError::ProfileWriteError(const QString& path, const QString& reason)
    : std::runtime_error((
          QStringLiteral("Unable to write to ") + path + (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason))
                             .toStdString()),
      path_(path)
{
}

namespace {

struct RawLine {
    QByteArray text; // without its line end
    QByteArray end;  // "\r\n", "\n", "\r" or empty (last line)
};

std::vector<RawLine> splitRaw(const QByteArray& bytes)
{
    std::vector<RawLine> lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        RawLine line {bytes.mid(start, i - start), QByteArray(1, c)};
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n') {
            line.end = "\r\n";
            ++i;
        }
        lines.push_back(std::move(line));
        start = i + 1;
    }
    if (start < n)
        lines.push_back({bytes.mid(start), QByteArray()});
    return lines;
}

// "[name]" gives name; anything else is no section header.
bool sectionName(const QString& trimmedLine, QString* name)
{
    if (!trimmedLine.startsWith(u'['))
        return false;
    qsizetype close = trimmedLine.indexOf(u']');
    if (close < 0)
        close = trimmedLine.size();
    *name = trimmed(QStringView(trimmedLine).sliced(1, close - 1));
    return true;
}

bool keyValue(const QString& trimmedLine, QString* key, QString* value)
{
    const qsizetype eq = trimmedLine.indexOf(u'=');
    if (eq < 0)
        return false;
    *key = trimmed(QStringView(trimmedLine).first(eq));
    QString v = trimmed(QStringView(trimmedLine).sliced(eq + 1));
    // a value in a pair of matching quotes reads without them
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.sliced(1, v.size() - 2);
    *value = v;
    return true;
}

// A line as the reader sees it: the reader decodes the file as a whole, so
// only the first line loses its byte order marks.
QString decodedLine(const QByteArray& text, bool first)
{
    const QString line = decodeText(text);
    const qsizetype marks = first ? 0 : (text.size() - withoutByteOrderMarks(text).size()) / 3;
    return QString(marks, QChar(0xFEFF)) + line;
}

QString lookupKey(const QString& section, const QString& key)
{
    return section.toCaseFolded() + u'\n' + key.toCaseFolded();
}

bool sameName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

} // namespace

ProfileReader::ProfileReader(const QString& path)
{
    QFile file(path);
    exists_ = file.exists();
    if (!exists_ || !file.open(QIODevice::ReadOnly))
        return;
    const QStringList lines = splitLines(decodeText(file.readAll()));
    QString section;
    bool inSection = false;
    for (const QString& raw : lines) {
        const QString line = trimmed(raw);
        QString name, key, value;
        if (sectionName(line, &name)) {
            section = name;
            inSection = true;
            if (!sections_.contains(name, Qt::CaseInsensitive))
                sections_.append(name);
        } else if (inSection && keyValue(line, &key, &value)) {
            const QString k = lookupKey(section, key);
            if (!values_.contains(k))
                values_.insert(k, value.left(ProfileFile::MaxValueLength));
        }
    }
}

bool ProfileReader::hasKey(const QString& section, const QString& key) const
{
    return values_.contains(lookupKey(section, key));
}

QString ProfileReader::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    auto it = values_.constFind(lookupKey(section, key));
    return it == values_.constEnd() ? defaultValue : it.value();
}

bool ProfileReader::readBool(const QString& section, const QString& key, bool defaultValue) const
{
    auto it = values_.constFind(lookupKey(section, key));
    return it == values_.constEnd() ? defaultValue : ProfileFile::parseBool(it.value(), defaultValue);
}

bool ProfileFile::exists(const QString& path)
{
    return QFileInfo(path).isFile();
}

QString ProfileFile::readString(
    const QString& path, const QString& section, const QString& key, const QString& defaultValue)
{
    return ProfileReader(path).readString(section, key, defaultValue);
}

bool ProfileFile::readBool(const QString& path, const QString& section, const QString& key, bool defaultValue)
{
    return ProfileReader(path).readBool(section, key, defaultValue);
}

bool ProfileFile::parseBool(const QString& value, bool defaultValue)
{
    QStringView v = value;
    bool negative = false;
    if (!v.isEmpty() && (v.front() == u'+' || v.front() == u'-')) {
        negative = v.front() == u'-';
        v = v.sliced(1);
    }
    int base = 10;
    if (v.size() > 2 && v[0] == u'0' && (v[1] == u'x' || v[1] == u'X')) {
        base = 16;
        v = v.sliced(2);
    }
    if (v.isEmpty())
        return defaultValue;
    for (QChar c : v) {
        const bool digit = c >= u'0' && c <= u'9';
        const bool hex = (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!digit && !(base == 16 && hex))
            return defaultValue; // also rejects blanks inside and signs after the prefix
    }
    bool ok = false;
    const qlonglong number = v.toLongLong(&ok, base);
    // numbers past the 32-bit range are no numbers to the profile reader
    if (!ok || number > (negative ? 2147483648LL : (base == 16 ? 0xFFFFFFFFLL : 2147483647LL)))
        return defaultValue;
    return number != 0;
}

void ProfileFile::writeString(const QString& path, const QString& section, const QString& key, const QString& value)
{
    QByteArray bytes;
    {
        QFile file(path);
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly))
                throw ProfileWriteError(path, file.errorString());
            bytes = file.readAll();
        }
    }
    std::vector<RawLine> lines = splitRaw(bytes);
    QByteArray newline = "\r\n";
    for (const RawLine& l : lines) {
        if (!l.end.isEmpty()) {
            newline = l.end;
            break;
        }
    }
    QString flat = value;
    // A line break inside a value would start new lines of the file (a value
    // could then forge keys): it is stored as a blank.
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray entry = (key + u'=' + flat).toUtf8();

    qsizetype sectionAt = -1, lastInSection = -1, keyAt = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        const QString line = trimmed(decodedLine(lines[i].text, i == 0));
        QString name, k, v;
        if (sectionName(line, &name)) {
            if (sectionAt >= 0)
                break; // the section ended
            if (sameName(name, section)) {
                sectionAt = qsizetype(i);
                lastInSection = qsizetype(i);
            }
        } else if (sectionAt >= 0) {
            if (!line.isEmpty())
                lastInSection = qsizetype(i);
            if (keyValue(line, &k, &v) && sameName(k, key)) {
                keyAt = qsizetype(i);
                break;
            }
        }
    }

    auto insertAt = [&](size_t at, RawLine line) {
        if (at > 0 && lines[at - 1].end.isEmpty())
            lines[at - 1].end = newline;
        lines.insert(lines.begin() + qsizetype(at), std::move(line));
    };
    if (keyAt >= 0) {
        lines[size_t(keyAt)].text = entry;
    } else if (sectionAt >= 0) {
        insertAt(size_t(lastInSection) + 1, {entry, newline});
    } else {
        insertAt(lines.size(), {('[' + section + ']').toUtf8(), newline});
        insertAt(lines.size(), {entry, newline});
    }

    QByteArray out;
    for (const RawLine& l : lines)
        out += l.text + l.end;
    ReplacingFile file(path);
    if (!file.open() || file.device().write(out) != out.size() || !file.commit())
        throw ProfileWriteError(path, file.errorString());
}

void ProfileFile::writeBool(const QString& path, const QString& section, const QString& key, bool value)
{
    writeString(path, section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace og
