#include "orders/ScriptRun.h"

#include "orders/ReportFields.h"

#include <QIODevice>
#include <QSaveFile>
#include <vector>

namespace og {

QString addressFileName(const QString& product)
{
    return QStringLiteral("email_") + product + QStringLiteral(".txt");
}

namespace {

void appendWord(LineBlock& block, QByteArrayView value)
{
    appendShellWord(block, value);
}

class ScriptWriter {
public:
    // With a sink, the lines go out to it every few megabytes instead of
    // staying in script.
    ScriptWriter(LineBlock& script, QIODevice* sink) : script_(script), sink_(sink) {}

    static constexpr qsizetype kChunk = 4 << 20;

    void flush()
    {
        if (!sink_ || script_.isEmpty())
            return;
        if (!script_.writeTo(*sink_))
            failed_ = true;
        script_.reuse();
    }
    bool failed() const { return failed_; }

    // The first password line creates .htpasswd anew, whatever its source.
    void passwordLine(QByteArrayView user, QByteArrayView password)
    {
        script_.beginLine();
        script_.appendToLine(first_ ? "htpasswd -bc .htpasswd " : "htpasswd -b .htpasswd ");
        first_ = false;
        appendWord(script_, user);
        script_.appendToLine(" ");
        appendWord(script_, password);
        script_.endLine();
        if (sink_ && script_.fileSize() >= kChunk)
            flush();
    }

private:
    LineBlock& script_;
    QIODevice* sink_;
    bool first_ = true;
    bool failed_ = false;
};

QString failureMessage(const QString& path, const QString& reason, const QString& note)
{
    QString message = QStringLiteral("Unable to write %1: %2").arg(path, reason);
    if (!note.isEmpty())
        message += QStringLiteral(" (") + note + QStringLiteral(")");
    return message;
}

void writeFile(const QString& path, const LineBlock& lines, const QString& note)
{
    // Written beside the old file and put in its place when complete, so a
    // failure never leaves half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !lines.writeTo(file) || !file.commit())
        throw RunError(failureMessage(path, file.errorString(), note).toStdString());
}

RunResult buildRunTo(const RunRequest& request, QIODevice* scriptSink, bool* sinkFailed)
{
    const Report& report = *request.report;
    static const CustomerLists noLists;
    const CustomerLists& lists = request.lists ? *request.lists : noLists;
    const Options& options = request.options;

    RunResult result;
    result.product = trimmed(request.selectedProduct);
    const bool swreg = report.store() == ReportStore::SWREG;
    const char separator = swreg ? ',' : '"';
    // The run takes the order lines the intake found, of the chosen product
    // (equal ignoring case) or all of them.
    const int wanted = request.allProducts ? -1 : report.findProduct(result.product);
    const bool takeNone = !request.allProducts && wanted < 0;

    LineBlock& script = result.script;
    LineBlock unsorted;
    // Capacity that is never written costs address space, not memory: an
    // upper bound spares the copies of a growing buffer.
    const qsizetype orders = request.allProducts ? report.orderLineCount() : report.orderLineCount(wanted);
    const qsizetype extras = lists.admitted().size();
    if (scriptSink)
        script.reserve(0, ScriptWriter::kChunk + 65536);
    else
        script.reserve(orders + extras + 8, report.orderBytes(wanted) + 40 * orders + lists.admitted().fileSize()
                                                + lists.admittedOrders().fileSize() + 40 * extras + 4096);
    unsorted.reserve(orders + extras, report.orderBytes(wanted) + lists.admitted().fileSize()
                                          + lists.admittedOrders().fileSize() + 4 * extras);

    script.beginLine();
    script.appendToLine("echo batch file for product: ");
    appendWord(script, QByteArrayView(result.product.toUtf8()));
    script.endLine();
    ScriptWriter writer(script, scriptSink);

    const bool checkBlocked = !lists.blocked().isEmpty();
    const bool checkUpdates = !lists.newAddresses().isEmpty();
    const bool trackAdmitted = !lists.admitted().isEmpty();
    // for each goodguys.txt entry: whether a report order of this run wrote
    // its address (only the first entry of each address is marked)
    std::vector<char> admittedWritten(size_t(lists.admitted().size()), 0);

    FoldedKey key;
    QByteArray spillOrder, spillDate, spillFirst, spillLast;
    for (qsizetype i = 0; i < report.lineCount() && !takeNone; ++i) {
        const int product = report.productIndexOf(i);
        if (product < 0 || (!request.allProducts && product != wanted))
            continue;
        const QByteArrayView line = bytes::trimmed(report.lineBytes(i));
        QByteArrayView date;
        if (options.orderDate)
            date = swreg ? bytes::swregDate(line, spillDate) : bytes::quotedDate(line, spillDate);
        QByteArrayView address = bytes::orderAddress(line, separator);
        const bool folded = checkBlocked || checkUpdates || trackAdmitted;
        if (folded)
            key.set(address);
        if (checkBlocked && lists.isBlocked(key)) {
            ++result.blocked;
            continue;
        }
        const QByteArrayView order =
            swreg ? bytes::commaField(line, 2, spillOrder) : bytes::quotedField(line, 2, spillOrder);
        writer.passwordLine(address, order);

        if (checkUpdates) {
            const qsizetype k = lists.updateIndex(key);
            if (k >= 0) {
                address = lists.newAddresses().bytesAt(k);
                ++result.updated;
                if (trackAdmitted)
                    key.set(address);
            }
        }
        if (trackAdmitted) {
            const qsizetype k = lists.admittedIndex(key);
            if (k >= 0)
                admittedWritten[size_t(k)] = 1;
        }

        unsorted.beginLine();
        unsorted.appendToLine(address);
        if (options.orderNr) {
            unsorted.appendToLine(" , ");
            unsorted.appendToLine(order);
        }
        if (options.orderDate) {
            unsorted.appendToLine(" , ");
            unsorted.appendToLine(date);
        }
        if (options.names) {
            const int firstField = swreg ? 9 : 13;
            auto field = swreg ? bytes::commaField : bytes::quotedField;
            unsorted.appendToLine(" , ");
            unsorted.appendToLine(field(line, firstField, spillFirst));
            unsorted.appendToLine(" ");
            unsorted.appendToLine(field(line, firstField + 1, spillLast));
        }
        unsorted.endLine();
        ++result.written;
    }

    if (trackAdmitted) {
        const auto extras = lists.extraCustomers(result.product, [&](const QString& a) {
            const qsizetype k = lists.admittedIndexUtf8(QByteArrayView(a.toUtf8()));
            return k >= 0 && admittedWritten[size_t(k)];
        });
        for (const ExtraCustomer& extra : extras) {
            const QByteArray address = extra.address.toUtf8();
            const QByteArray order = extra.orderNumber.toUtf8();
            writer.passwordLine(address, order);
            ++result.extra;
            unsorted.beginLine();
            unsorted.appendToLine(address);
            if (options.orderNr) {
                unsorted.appendToLine(" , ");
                unsorted.appendToLine(order);
            }
            unsorted.endLine();
        }
    }

    if (!options.user.isEmpty() && !options.passwd.isEmpty())
        writer.passwordLine(QByteArrayView(options.user.toUtf8()), QByteArrayView(options.passwd.toUtf8()));

    // The modes and the mask are the vendor's own options: written as typed.
    script.append(QByteArrayView(("chmod " + options.chmodPasswd + " .htpasswd").toUtf8()));
    script.append(QByteArrayView(("chmod " + options.chmodProtect + " " + options.Pmask).toUtf8()));
    script.append(QByteArrayView(("chmod " + options.chmodAccess + " .htaccess").toUtf8()));
    script.append(QByteArrayView("rm MakePass.ksh"));

    writer.flush();
    if (sinkFailed)
        *sinkFailed = writer.failed();
    result.addresses = sortedIgnoringCase(std::move(unsorted));
    return result;
}

}  // namespace

RunResult buildRun(const RunRequest& request)
{
    return buildRunTo(request, nullptr, nullptr);
}

RunResult performRun(const RunRequest& request)
{
    const QString batchPath = request.folder + batchFileName();
    RunResult result;
    if (request.keepScriptLines) {
        result = buildRun(request);
        writeFile(batchPath, result.script, QString());
    } else {
        // The batch file is written while it is made and replaces the old
        // one only when complete.
        QSaveFile batch(batchPath);
        if (!batch.open(QIODevice::WriteOnly))
            throw RunError(failureMessage(batchPath, batch.errorString(), QString()).toStdString());
        bool failed = false;
        result = buildRunTo(request, &batch, &failed);
        if (failed || !batch.commit())
            throw RunError(failureMessage(batchPath, batch.errorString(), QString()).toStdString());
    }
    const QString addressFile = addressFileName(result.product);
    writeFile(request.folder + addressFile, result.addresses,
              batchFileName() + QStringLiteral(" was written, the address file was not"));

    result.statistics = {
        QStringLiteral("processed %1 entries for Store: %2").arg(result.written).arg(result.product),
        QStringLiteral("%1 bozos blocked").arg(result.blocked),
        QStringLiteral("%1 email addresses updated in %2").arg(result.updated).arg(addressFile),
        QStringLiteral("%1 added from goodguys.txt file").arg(result.extra),
        QStringLiteral("%1 Total").arg(result.extra + result.written),
        QStringLiteral("MakePass.ksh and %1 placed in directory: %2").arg(addressFile, request.folder),
        QStringLiteral("Used report from ") + storeName(request.report->store()),
    };
    return result;
}

}  // namespace og
