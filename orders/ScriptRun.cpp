#include "orders/ScriptRun.h"

#include "common/ProfileFile.h"
#include "common/ProgramFolder.h"
#include "common/ReplacingFile.h"
#include "orders/OrderPass.h"
#include "orders/ReportFields.h"

#include <QFileDevice>
#include <QIODevice>
#include <vector>

namespace og {

QString addressFileName(const QString& product)
{
    // A name has at most 255 bytes, and the replacing file's temporary adds
    // seven.
    constexpr qsizetype kMaxProductBytes = 200;
    QString safe = product;
    for (QChar& c : safe) {
        if (c == u'/' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'_';
    }
    if (safe.toUtf8().size() > kMaxProductBytes) {
        QByteArray bytes = safe.toUtf8().first(kMaxProductBytes);
        while (!bytes.isEmpty() && (static_cast<unsigned char>(bytes.back()) & 0xc0) == 0x80)
            bytes.chop(1); // a continuation byte: the character is cut
        if (!bytes.isEmpty() && static_cast<unsigned char>(bytes.back()) >= 0xc0)
            bytes.chop(1); // its lead byte
        safe = QString::fromUtf8(bytes);
    }
    return QStringLiteral("email_") + safe + QStringLiteral(".txt");
}

namespace {

// At most 120 characters of a value for a note, control characters shown as
// replacement characters.
QString printable(const QString& value)
{
    QString text = value.left(120);
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

} // namespace

QStringList skippedLineNotes(const Report& report)
{
    QStringList notes;
    for (const SkippedLine& skipped : report.firstSkippedLines()) {
        const QString text = printable(report.line(skipped.line));
        notes.append(QStringLiteral("line %1 skipped, %2: %3")
                         .arg(report.textLineOf(skipped.line) + 1)
                         .arg(skipReasonText(skipped.reason), text));
    }
    const qsizetype more = report.skippedLineCount() - qsizetype(report.firstSkippedLines().size());
    if (more > 0)
        notes.append(QStringLiteral("... and %1 more skipped lines").arg(more));
    return notes;
}

QString excludedRowsLine(const Report& report)
{
    const qsizetype count = report.excludedCount();
    if (count == 0)
        return {};
    QStringList reasons;
    for (const ExcludedRows& e : report.excludedRows())
        reasons.append(printable(e.reason));
    return QStringLiteral("%1 %2 excluded: %3")
        .arg(count)
        .arg(count == 1 ? "order" : "orders")
        .arg(reasons.join(QStringLiteral(", ")));
}

QStringList missingListNotes(const CustomerLists& lists)
{
    QStringList notes;
    for (const QString& name : lists.missingFiles()) {
        const QString effect = name == CustomerLists::blockedFileName() ? QStringLiteral("no customer blocked")
            : name == CustomerLists::changedFileName()                  ? QStringLiteral("no address updated")
                                                                        : QStringLiteral("no customer added");
        notes.append(QStringLiteral("%1 not found in %2: %3").arg(name, lists.folder(), effect));
    }
    return notes;
}

namespace {

QString failureMessage(const QString& path, const QString& reason, const QString& note)
{
    QString message = QStringLiteral("Unable to write %1: %2").arg(path, reason);
    if (!note.isEmpty())
        message += QStringLiteral("; ") + note;
    return message;
}

[[noreturn]] void fail(const QString& path, const ReplacingFile& file, const QString& note)
{
    throw RunError(failureMessage(path, file.errorString(), note).toStdString());
}

// Everything written reaches the file system, with its error, before any
// rename.
bool flushed(ReplacingFile& file)
{
    return file.flush();
}

RunResult buildRunTo(const RunRequest& request, QIODevice* scriptSink, bool* sinkFailed)
{
    const Report& report = *request.report;
    static const CustomerLists noLists;
    const CustomerLists& lists = request.lists ? *request.lists : noLists;

    RunResult result;
    result.product = trimmed(request.selectedProduct);
    // The run takes the order lines the intake found, of the chosen product
    // (equal ignoring case) or all of them.
    const int wanted = request.allProducts ? -1 : report.findProduct(result.product);
    const bool takeNone = !request.allProducts && wanted < 0;

    LineBlock& script = result.script;
    OrderPassOutput out;
    LineBlock& unsorted = out.addresses;
    // Capacity that is never written costs address space, not memory: an
    // upper bound spares the copies of a growing buffer.
    const qsizetype orders = request.allProducts ? report.orderLineCount() : report.orderLineCount(wanted);
    const qsizetype extras = lists.admitted().size();
    if (scriptSink)
        script.reserve(0, BatchFile::kChunk + 65536);
    else
        script.reserve(orders + extras + 8,
            report.orderBytes(wanted) + 40 * orders + lists.admitted().fileSize() + lists.admittedOrders().fileSize() +
                40 * extras + 4096);
    unsorted.reserve(orders + extras,
        report.orderBytes(wanted) + lists.admitted().fileSize() + lists.admittedOrders().fileSize() + 4 * extras);
    out.events.reserve(orders + extras);

    BatchFile batch(script, scriptSink);
    batch.preamble(result.product);
    const OrderPassInput in {&report, &lists, &request.options, request.allProducts, wanted};
    passOrders(in, 0, takeNone ? 0 : report.lineCount(), batch, out);
    passAdmitted(in, result.product, batch, out);
    for (const qsizetype entry : out.admittedRefused)
        result.notes.append(QStringLiteral("%1: %2 skipped, a value htpasswd refuses")
                                .arg(CustomerLists::admittedFileName(), printable(lists.admitted().at(entry))));
    if (!batch.testAccount(request.options))
        result.notes.append(QStringLiteral("test account skipped: htpasswd refuses its user name or password"));
    batch.closing(request.options);
    batch.flush();
    if (sinkFailed)
        *sinkFailed = batch.failed();

    const AccountCounts counts = out.events.counts();
    result.written = counts.written;
    result.blocked = counts.blocked;
    result.updated = counts.updated;
    result.extra = counts.extra;
    result.events = std::move(out.events);
    result.addresses = sortedIgnoringCase(std::move(unsorted));
    return result;
}

} // namespace

RunResult buildRun(const RunRequest& request)
{
    return buildRunTo(request, nullptr, nullptr);
}

RunResult performRun(const RunRequest& request)
{
    const QString batchPath = request.folder + batchFileName();
    const QString addressFile = addressFileName(trimmed(request.selectedProduct));
    const QString addressPath = request.folder + addressFile;
    const QString nothingReplaced = QStringLiteral("neither file was replaced");
    // The batch file and its address file belong together: both are written
    // in full before either replaces its old one. The address file, whose
    // name comes from the report, goes in place first.
    ReplacingFile batch(batchPath);
    if (!batch.open())
        fail(batchPath, batch, nothingReplaced);
    ReplacingFile addresses(addressPath);
    if (!addresses.open())
        fail(addressPath, addresses, nothingReplaced);
    RunResult result;
    bool failed = false;
    if (request.keepScriptLines) {
        result = buildRun(request);
        failed = !result.script.writeTo(batch.device());
    } else {
        // The batch file is written while it is made.
        result = buildRunTo(request, &batch.device(), &failed);
    }
    if (failed || !flushed(batch))
        fail(batchPath, batch, nothingReplaced);
    if (!result.addresses.writeTo(addresses.device()) || !flushed(addresses))
        fail(addressPath, addresses, nothingReplaced);
    if (!addresses.commit())
        fail(addressPath, addresses, nothingReplaced);
    if (!batch.commit())
        fail(batchPath, batch, addressFile + QStringLiteral(" was written, MakePass.ksh was not"));
    // The mailer's field names (order, date, name) find their columns by this.
    try {
        recordAddressColumns(settingsPathIn(request.folder), addressPath, addressColumns(request.options));
    } catch (const ProfileWriteError& error) {
        throw RunError(error.what());
    }

    result.statistics = {
        QStringLiteral("processed %1 entries for Store: %2").arg(result.written).arg(result.product),
        QStringLiteral("%1 bozos blocked").arg(result.blocked),
        QStringLiteral("%1 email addresses updated in %2").arg(result.updated).arg(addressFile),
        QStringLiteral("%1 added from goodguys.txt file").arg(result.extra),
        QStringLiteral("%1 Total").arg(result.extra + result.written),
        QStringLiteral("MakePass.ksh and %1 placed in directory: %2").arg(addressFile, request.folder),
        QStringLiteral("Used report from ") + request.report->storeName(),
    };
    if (const qsizetype skipped = request.report->skippedLineCount(); skipped > 0)
        result.statistics.append(QStringLiteral("%1 %2 skipped: no order number or no address")
                                     .arg(skipped)
                                     .arg(skipped == 1 ? "line" : "lines"));
    if (const QString excluded = excludedRowsLine(*request.report); !excluded.isEmpty())
        result.statistics.append(excluded);
    result.notes = skippedLineNotes(*request.report) + result.notes;
    if (request.lists)
        result.notes += missingListNotes(*request.lists);
    return result;
}

} // namespace og
