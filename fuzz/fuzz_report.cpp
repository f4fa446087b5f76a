// The first job from any report: intake (store, order lines, products) and
// the order pass for the first product and for all of them, with the
// example lists. Every line of the batch and address files stays one line,
// and every account line has a user and a password. The same bytes also go
// through the report reader's RFC 4180 mode on their own; reports with a
// header row (seeds from the samples) are read in it by the intake.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QFile>
#include <QString>

#include "common/TextFiles.h"
#include "fuzz/FuzzCheck.h"
#include "orders/BatchFile.h"
#include "orders/CsvReader.h"
#include "orders/CustomerLists.h"
#include "orders/Report.h"
#include "orders/ScriptRun.h"

namespace {


QString Example(const char* name)
{
    QFile file(QStringLiteral(OG_EXAMPLES_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? og::decodeText(file.readAll()) : QString();
}

void CheckLines(const og::LineBlock& block)
{
    for (qsizetype i = 0; i < block.size(); ++i)
        OG_FUZZ_CHECK(!block.bytesAt(i).contains('\r') && !block.bytesAt(i).contains('\n'));
}

// The shell words of a batch file line: plain words, or single-quoted ones
// with '\'' for a quote.
QList<QByteArray> ShellWords(QByteArrayView line)
{
    QList<QByteArray> words;
    qsizetype i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        QByteArray word;
        while (i < line.size() && line[i] != ' ') {
            if (line[i] == '\'') {
                const qsizetype close = line.indexOf('\'', i + 1);
                OG_FUZZ_CHECK(close > i);
                word += line.sliced(i + 1, close - i - 1);
                i = close + 1;
            } else if (line[i] == '\\') {
                word += line[i + 1];
                i += 2;
            } else {
                word += line[i++];
            }
        }
        words.append(word);
    }
    return words;
}

// Every account line names a user and a password that htpasswd takes, with
// no control character that could stop the shell on the server (a tab stays
// inside its quotes).
void CheckAccounts(const og::LineBlock& script)
{
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QByteArrayView line = script.bytesAt(i);
        if (!line.startsWith("htpasswd "))
            continue;
        const QList<QByteArray> words = ShellWords(line);
        OG_FUZZ_CHECK(words.size() == 5 && !words[3].isEmpty() && !words[4].isEmpty());
        OG_FUZZ_CHECK(og::htpasswdTakesUser(words[3]) && og::htpasswdTakesPassword(words[4]));
        for (char c : line)
            OG_FUZZ_CHECK((static_cast<unsigned char>(c) >= 0x20 || c == '\t') && c != 0x7F);
    }
}

// Records end inside the text and past their start, and know whether they
// hold line ends; no field is longer than its record (doubled quotes only
// shorten it); a record cut once reads the fields the reader finds one by
// one.
void ReadAsRfc4180(QByteArrayView text)
{
    const og::CsvReader csv(',', og::CsvQuoting::Rfc4180);
    QByteArray spill, spillCut;
    og::CsvFields cut;
    for (qsizetype from = 0; from < text.size();) {
        bool closed = true, overLines = false;
        const qsizetype end = csv.recordEnd(text, from, &closed, &overLines);
        OG_FUZZ_CHECK(end >= from && end <= text.size());
        const QByteArrayView record = text.sliced(from, end - from);
        OG_FUZZ_CHECK(!closed || overLines == (record.contains('\n') || record.contains('\r')));
        cut.cut(csv, record, int(end % 24));
        for (int n = 0; n < 32; ++n) {
            const QByteArrayView field = csv.field(record, n, spill);
            OG_FUZZ_CHECK(field.size() <= record.size());
            OG_FUZZ_CHECK(cut.field(n, spillCut) == field);
        }
        from = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const og::CustomerLists lists = [] {
        og::CustomerLists l;
        l.loadTexts(Example("bozos.txt"), Example("Address.txt"), Example("goodguys.txt"));
        return l;
    }();
    ReadAsRfc4180(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    og::Report report;
    report.readBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (qsizetype i = 0; i < report.lineCount(); ++i)
        OG_FUZZ_CHECK(report.orderFieldsLine(i) <= i && report.orderFieldsLine(i) >= 0);
    const QStringList products = report.products();
    if (products.isEmpty())
        return 0;
    og::RunRequest request;
    request.report = &report;
    request.lists = &lists;
    request.folder = QStringLiteral("/nonexistent/");
    for (bool all : {true, false}) {
        if (!all && products.size() < 2)
            continue;
        request.allProducts = all;
        request.selectedProduct = all ? products.first() : products.last();
        request.options.orderDate = size & 1;
        request.options.names = size & 2;
        const og::RunResult result = og::buildRun(request);
        CheckLines(result.script);
        CheckAccounts(result.script);
        CheckLines(result.addresses);
        OG_FUZZ_CHECK(result.written >= 0 && result.addresses.size() >= result.written);
    }
    return 0;
}
