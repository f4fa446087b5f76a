// The settings file: any existing file, one key written, everything read
// back. The written value reads back equal (when it is a value the file can
// hold as it is), and every other key keeps the value it had.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <QFile>
#include <QString>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include "common/ProfileFile.h"
#include "common/TextFiles.h"
#include "common/Trim.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzScratch.h"

namespace {


// Sections and keys as they could appear in the file, found the simple way
// ("[name" up to "]", the text before a "="), also where the reader might
// not look.
std::vector<std::pair<QString, QString>> Candidates(const QByteArray& bytes)
{
    std::vector<std::pair<QString, QString>> out;
    QString text = og::decodeText(bytes);
    text.replace(u'\r', u'\n');
    QString section;
    for (const QString& raw : text.split(u'\n')) {
        const QString line = og::trimmed(raw);
        const qsizetype close = line.indexOf(u']');
        if (line.startsWith(u'['))
            section = og::trimmed(QStringView(line).sliced(1, (close < 0 ? line.size() : close) - 1));
        else if (line.indexOf(u'=') > 0)
            out.emplace_back(section, og::trimmed(QStringView(line).first(line.indexOf(u'='))));
    }
    return out;
}

// A name the file can hold: no line break, no "=", "[" or "]", no blanks
// at either end, not empty.
bool Storable(const QString& name)
{
    return !name.isEmpty() && og::trimmed(name) == name && !name.contains(u'=') && !name.contains(u'[') &&
        !name.contains(u']') && !name.contains(u'\r') && !name.contains(u'\n') && !name.contains(QChar(26));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = QString::fromStdString(og::fuzz::ScratchFile("settings.ini"));
    FuzzedDataProvider in(data, size);
    const QString section = QString::fromStdString(in.ConsumeRandomLengthString(40));
    const QString key = QString::fromStdString(in.ConsumeRandomLengthString(40));
    const QString value = QString::fromStdString(in.ConsumeRandomLengthString(1100));
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QByteArray before = QByteArray::fromStdString(rest);
    if (!Storable(section) || !Storable(key))
        return 0;

    QFile file(path);
    OG_FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(before) == before.size());
    file.close();
    const og::ProfileReader old(path);

    og::ProfileFile::writeString(path, section, key, value);
    const og::ProfileReader now(path);

    // Line breaks are stored as blanks; blanks at the ends and a pair of
    // surrounding quotes are read away; longer values are cut.
    QString expected = value;
    expected.replace(u'\r', u' ').replace(u'\n', u' ');
    const bool plain = og::trimmed(expected) == expected && expected.size() <= og::ProfileFile::MaxValueLength &&
        !(expected.size() >= 2 && (expected.front() == u'"' || expected.front() == u'\'') &&
            expected.back() == expected.front());
    const QString got = now.readString(section, key, QStringLiteral("\x01missing"));
    if (plain)
        OG_FUZZ_CHECK(got == expected);
    else
        OG_FUZZ_CHECK(got != QStringLiteral("\x01missing"));

    const QString sentinel = QStringLiteral("\x01none");
    for (const auto& [s, k] : Candidates(before)) {
        if (s.compare(section, Qt::CaseInsensitive) == 0 && k.compare(key, Qt::CaseInsensitive) == 0)
            continue;
        OG_FUZZ_CHECK(old.readString(s, k, sentinel) == now.readString(s, k, sentinel));
    }
    return 0;
}
