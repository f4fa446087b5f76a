#include "orders/ScriptRun.h"

#include "common/ReplacingFile.h"
#include "orders/OrderPass.h"
#include "orders/ReportFields.h"

#include <QIODevice>
#include <vector>

namespace og {

QString addressFileName(const QString& product)
{
    return QStringLiteral("email_") + product + QStringLiteral(".txt");
}

namespace {

QString failureMessage(const QString& path, const QString& reason, const QString& note)
{
    QString message = QStringLiteral("Unable to write %1: %2").arg(path, reason);
    if (!note.isEmpty())
        message += QStringLiteral(" (") + note + QStringLiteral(")");
    return message;
}

void writeFile(const QString& path, const LineBlock& lines, const QString& note)
{
    ReplacingFile file(path);
    if (!file.open() || !lines.writeTo(file.device()) || !file.commit())
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
        script.reserve(0, ScriptWriter::kChunk + 65536);
    else
        script.reserve(orders + extras + 8,
            report.orderBytes(wanted) + 40 * orders + lists.admitted().fileSize() + lists.admittedOrders().fileSize() +
                40 * extras + 4096);
    unsorted.reserve(orders + extras,
        report.orderBytes(wanted) + lists.admitted().fileSize() + lists.admittedOrders().fileSize() + 4 * extras);

    script.beginLine();
    script.appendToLine("echo batch file for product: ");
    appendShellWord(script, QByteArrayView(result.product.toUtf8()));
    script.endLine();
    ScriptWriter writer(script, scriptSink);

    const OrderPassInput in {&report, &lists, &options, request.allProducts, wanted};
    passOrders(in, 0, takeNone ? 0 : report.lineCount(), writer, out);
    result.written = out.written;
    result.blocked = out.blocked;
    result.updated = out.updated;
    const bool trackAdmitted = !lists.admitted().isEmpty();
    const std::vector<char>& admittedWritten = out.admittedWritten;

    if (trackAdmitted) {
        const auto admitted = lists.extraCustomers(result.product, [&](const QString& a) {
            const qsizetype k = lists.admittedIndexUtf8(QByteArrayView(a.toUtf8()));
            return k >= 0 && admittedWritten[size_t(k)];
        });
        for (const ExtraCustomer& extra : admitted) {
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

} // namespace

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
        ReplacingFile batch(batchPath);
        if (!batch.open())
            throw RunError(failureMessage(batchPath, batch.errorString(), QString()).toStdString());
        bool failed = false;
        result = buildRunTo(request, &batch.device(), &failed);
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
        QStringLiteral("Used report from ") + request.report->layout().name,
    };
    return result;
}

} // namespace og
