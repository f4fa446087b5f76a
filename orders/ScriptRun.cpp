#include "orders/ScriptRun.h"

#include "common/AddressFile.h"

#include "common/ProfileFile.h"
#include "common/ProgramFolder.h"
#include "common/ReplacingFile.h"
#include "common/SuppressionList.h"
#include "orders/OrderPass.h"
#include "orders/ReportFields.h"
#include "orders/SideWork.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileDevice>
#include <QIODevice>
#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

namespace og {

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
    const bool several = report.excludedRows().size() > 1;
    for (const ExcludedRows& e : report.excludedRows())
        reasons.append(printable(e.reason) + (several ? QStringLiteral(": %1").arg(e.count) : QString()));
    return QStringLiteral("%1 %2 excluded: %3")
        .arg(count)
        .arg(count == 1 ? "order" : "orders")
        .arg(reasons.join(QStringLiteral(", ")));
}

QStringList excludedOrderNotes(const Report& report)
{
    QStringList notes;
    for (const ExcludedLine& e : report.firstExcludedLines()) {
        notes.append(QStringLiteral("order %1 of %2 excluded: %3")
                         .arg(printable(report.orderNumberOf(e.line)), printable(report.addressOf(e.line)),
                             printable(report.excludedRows()[size_t(e.reason)].reason)));
    }
    const qsizetype more = report.excludedCount() - qsizetype(report.firstExcludedLines().size());
    if (more > 0)
        notes.append(QStringLiteral("... and %1 more excluded orders").arg(more));
    return notes;
}

QString addDoNotContact(const Report& report, const CustomerLists* lists, const QString& day)
{
    const QStringList asked = report.doNotContactAddresses();
    if (asked.isEmpty())
        return {};
    const QString folder = lists && !lists->folder().isEmpty() ? lists->folder() : QStringLiteral(".");
    const QString path = QDir(folder).filePath(QString::fromLatin1(unsubscribedFileName));
    const QString reason =
        QStringLiteral("do not contact (%1: %2)").arg(report.storeName(), report.doNotContactColumn());
    const QDate date = QDate::fromString(day.left(10), Qt::ISODate);
    QList<SuppressionList::Entry> entries;
    for (const QString& address : asked) {
        entries.append({address, date, reason});
        // the mail goes to the customer's new address: that one is listed too
        bool updated = false;
        const QString now = lists ? lists->updatedAddress(address, &updated) : address;
        if (updated)
            entries.append({now, date, reason});
    }
    QString error;
    QStringList skipped;
    qsizetype added = 0;
    if (!SuppressionList::append(path, entries, &error, &skipped, &added))
        throw RunError(
            QStringLiteral("%1: %2; no file was replaced").arg(QDir::toNativeSeparators(path), error).toStdString());
    return QStringLiteral(
        "%1 %2 not to be contacted (%3): %4 added to %5; the accounts are made, the mailer skips them")
        .arg(asked.size())
        .arg(asked.size() == 1 ? "customer asked" : "customers asked")
        .arg(printable(report.doNotContactColumn()))
        .arg(added)
        .arg(QDir::toNativeSeparators(path));
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

// How many customers of each change the notes name; the change report
// names them all.
constexpr qsizetype kChangesListed = 20;

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

QString runStampOf(const RunRequest& request)
{
    return request.runStamp.isEmpty() ? QDateTime::currentDateTimeUtc().toString(Qt::ISODate) : request.runStamp;
}

// The ledger of the runs before. One that does not look like this
// product's, whole, stops the run before anything is written: its accounts
// would be kept with wrong passwords, or every earlier customer dropped
// without a word. Told to drop missing customers, the vendor starts afresh
// without it. Lines it skipped are named in notes.
AccountLedger loadLedger(const RunRequest& request, QStringList& notes)
{
    AccountLedger ledger;
    QString error;
    const QString product = trimmed(request.selectedProduct);
    if (!ledger.load(request.folder, product, request.options.orderNr, &error))
        throw RunError((error + QStringLiteral("; no file was replaced")).toStdString());
    const QString name = ledgerFileName(product);
    if (!ledger.distrust().isEmpty()) {
        const QString what = QStringLiteral("%1 %2").arg(request.folder + name, ledger.distrust());
        if (request.options.keepaccounts != MissingAccounts::Drop || !request.dropChosen)
            throw RunError((QStringLiteral("%1; no file was replaced. Restore it from a backup, or, to start "
                                           "afresh with the customers of this report alone, run again with "
                                           "--drop-missing (in the main window: Missing customers \"Remove "
                                           "them\")")
                                .arg(what))
                               .toStdString());
        notes.append(what + QStringLiteral(": not used, every customer of this run counts as new"));
        return AccountLedger();
    }
    qsizetype named = 0;
    for (const AccountLedger::RefusedLine& r : ledger.refusedLines()) {
        if (named++ == Report::kSkippedKept) {
            notes.append(QStringLiteral("... and %1 more skipped lines of %2")
                             .arg(qsizetype(ledger.refusedLines().size()) - Report::kSkippedKept)
                             .arg(ledger.source()));
            break;
        }
        notes.append(QStringLiteral("%1 line %2 skipped, %3: %4 (counts as not in the ledger)")
                         .arg(ledger.source())
                         .arg(r.line)
                         .arg(QString::fromUtf8(accountValueFaultText(r.fault)), printable(QString::fromUtf8(r.user))));
    }
    return ledger;
}

// Where a run that writes its files sends what it makes as it makes it,
// and whether each write went well.
struct RunSinks {
    QIODevice* script = nullptr; // null: the batch file's lines are kept
    QIODevice* changes = nullptr;
    QIODevice* ledger = nullptr;
    // the address files; null: they are written by the caller
    QIODevice* addresses = nullptr;
    QIODevice* newAddresses = nullptr;
    bool scriptFailed = false, changesFailed = false, ledgerFailed = false;
    bool addressesFailed = false, newAddressesFailed = false;
};

// The customers of the address lines whose address bounced.txt lists:
// "address (bounced 2026-12-11 550 5.1.1)", in the lines' order.
QStringList bouncedCustomers(const LineBlock& addressLines, const SuppressionList& bounced)
{
    QStringList found;
    if (bounced.isEmpty())
        return found;
    for (qsizetype i = 0; i < addressLines.size(); ++i) {
        const QString address = customerAddress(addressLines.at(i));
        if (const SuppressionList::Entry* entry = bounced.find(address)) {
            QStringList why {QStringLiteral("bounced")};
            if (entry->date.isValid())
                why << entry->date.toString(Qt::ISODate);
            if (!entry->reason.isEmpty())
                why << entry->reason;
            found << address + QStringLiteral(" (") + why.join(u' ') + u')';
        }
    }
    return found;
}

// The run's accounts against the ledger: what changed and the earlier
// accounts kept (after this report's, into the batch file). The change
// report and the next ledger are written by writeChangeFiles.
std::unique_ptr<AccountChanges> compareWithLedger(const RunRequest& request, const CustomerLists& lists,
    const AccountLedger& ledger, const RunAccounts& accounts, const QStringList& bounced, BatchFile& batch,
    RunResult& result, bool twoCores)
{
    auto changes = std::make_unique<AccountChanges>(ledger, accounts, lists, request.options.bcrypt(), twoCores);
    const MissingAccounts missing = request.options.keepaccounts;
    result.keepable = changes->keepable();
    result.decisionNeeded = missing == MissingAccounts::Ask && changes->keepable() > 0;
    changes->keepMissing(missing == MissingAccounts::Keep);
    for (const LedgerAccount& account : changes->carried())
        batch.keptAccount(account.user, account.password);
    result.changes = changes->notes(kChangesListed);
    if (!bounced.isEmpty())
        result.changes << QStringLiteral("%1 customers' addresses bounced (look for a new one): %2")
                              .arg(bounced.size())
                              .arg(bounced.mid(0, kChangesListed).join(QStringLiteral(", ")) +
                                  (bounced.size() > kChangesListed ? QStringLiteral(", ...") : QString()));
    result.changeCounts = changes->counts();
    return changes;
}

// The change report, with the bounced addresses after its accounts, to the
// sinks.
void writeChangeReport(const AccountChanges& changes, const QStringList& bounced, const QString& product,
    const QString& stamp, RunSinks& sinks)
{
    sinks.changesFailed = !changes.writeReport(*sinks.changes, product, stamp);
    for (const QString& customer : bounced) {
        const QByteArray line = QStringLiteral("address bounced: %1\r\n").arg(customer).toUtf8();
        sinks.changesFailed = sinks.changesFailed || sinks.changes->write(line) != line.size();
    }
}

// Whether a run is big enough for work on a second core.
bool bigRun(const Report& report)
{
    return report.lineCount() >= Report::kLinesForTwoCores;
}

// The address lines, sorted, into result: all of them (unsorted, moved
// there in the order their sort found, once it ends), and those of the customers new in
// this run (the lines follow the run's accounts one for one). On a first
// run all are new: the address lines serve for both.
void sortAddressLines(LineBlock& unsorted, const std::vector<char>& isNew, SideWork& sorting,
    std::vector<uint32_t>& order, RunResult& result)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < unsorted.size(); ++i)
        count += isNew[size_t(i)];
    if (count > 0 && count < unsorted.size()) {
        LineBlock lines;
        // capacity never written costs address space, not memory
        lines.reserve(count, unsorted.fileSize());
        for (qsizetype i = 0; i < unsorted.size(); ++i) {
            if (isNew[size_t(i)])
                lines.append(unsorted.bytesAt(i));
        }
        result.newAddresses = sortedIgnoringCase(std::move(lines));
    }
    sorting.join();
    unsorted.reorder(std::move(order));
    result.addresses = std::move(unsorted);
    result.allNew = count > 0 && count == result.addresses.size();
}

RunResult buildRunTo(const RunRequest& request, RunSinks* sinks)
{
    QIODevice* scriptSink = sinks ? sinks->script : nullptr;
    RunResult result;
    // The ledger is read on a second core while the orders are passed; it
    // is needed only when they are compared with it. One it cannot trust
    // still stops the run before anything is put in place.
    AccountLedger ledger;
    QStringList ledgerNotes;
    SideWork ledgerLoad(bigRun(*request.report));
    ledgerLoad.start([&] { ledger = loadLedger(request, ledgerNotes); });
    const Report& report = *request.report;
    static const CustomerLists noLists;
    const CustomerLists& lists = request.lists ? *request.lists : noLists;

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
    // A mapped report's pages go from memory once the pass is past them (a
    // run then holds a fraction of the report, not all of it): its
    // accounts keep copies of their values, a quarter of the report's size.
    // A report read into memory stays whole, and they point into it.
    if (report.textMapped())
        out.accounts.reserve(orders + extras, report.orderBytes(wanted) + lists.admitted().fileSize());
    else {
        out.accounts.setText(report.text());
        out.accounts.reserve(orders + extras);
    }

    BatchFile batch(script, scriptSink);
    batch.setAccountLines(request.options);
    batch.preamble(result.product);
    const OrderPassInput in {&report, &lists, &request.options, request.allProducts, wanted};
    // which goodguys.txt customers the run may add, found beside the pass
    AdmittedCandidates admitted;
    SideWork admittedAhead(bigRun(report));
    admittedAhead.start([&] { admitted = admittedCandidates(lists, result.product); });
    passOrders(in, 0, takeNone ? 0 : report.lineCount(), batch, out);
    admittedAhead.join();
    passAdmitted(in, admitted, batch, out);
    for (const qsizetype entry : out.admittedRefused)
        result.notes.append(QStringLiteral("%1: %2 skipped, a value htpasswd refuses")
                                .arg(CustomerLists::admittedFileName(), printable(lists.admitted().at(entry))));
    ledgerLoad.join();
    result.notes = ledgerNotes + result.notes;
    const QStringList bounced = bouncedCustomers(unsorted, lists.bounced());
    // The address lines are put in order on a second core while a first run
    // is compared (with no ledger): the sort finds the order, and the lines
    // are only read until it ends.
    std::vector<uint32_t> addressOrder;
    SideWork addressSort(bigRun(report));
    addressSort.start([&] { addressOrder = out.addressOrder.take(unsorted); });
    // Against a ledger, whose accounts are held beside the run's, the sort's
    // keys and the compare's tables at once would be the run's peak (1M
    // orders: 15 MB): the sort has both cores first, then the compare.
    const bool sortFirst = !ledger.accounts().empty();
    if (sortFirst)
        addressSort.join();
    std::unique_ptr<AccountChanges> changes =
        compareWithLedger(request, lists, ledger, out.accounts, bounced, batch, result, sortFirst);
    std::vector<char> isNew(size_t(out.accounts.size()));
    for (qsizetype i = 0; i < out.accounts.size(); ++i)
        isNew[size_t(i)] = changes->isNew(i);
    // The next ledger and the change report are written while the address
    // lines are sorted and written: the ledger beside, then the report
    // unless the run took it on when its address files were done (which
    // first, the files are the same). The accounts they are made from go
    // when both are written.
    const bool writeChanges = sinks && !result.decisionNeeded;
    const QString stamp = runStampOf(request);
    std::atomic<bool> reportTaken {false};
    std::atomic<int> writersLeft {2};
    const auto changeReport = [&] {
        if (writeChanges && !reportTaken.exchange(true))
            writeChangeReport(*changes, bounced, result.product, stamp, *sinks);
    };
    const auto release = [&] {
        if (--writersLeft == 0) {
            changes.reset();
            ledger = AccountLedger();
            out.accounts = RunAccounts();
        }
    };
    SideWork changeFiles(bigRun(report));
    changeFiles.start([&] {
        if (writeChanges)
            sinks->ledgerFailed = !changes->writeLedger(*sinks->ledger, result.product, stamp);
        changeReport();
        release();
    });
    if (batch.tooLongForBcrypt() > 0)
        result.notes.append(QStringLiteral("%1 accounts skipped: an address too long for a bcrypt record")
                                .arg(batch.tooLongForBcrypt()));
    if (!batch.testAccount(request.options))
        result.notes.append(QStringLiteral("test account skipped: htpasswd refuses its user name or password"));
    batch.closing(request.options);
    batch.flush();
    if (sinks)
        sinks->scriptFailed = batch.failed();

    const AccountCounts counts = out.events.counts();
    result.written = counts.written;
    result.blocked = counts.blocked;
    result.updated = counts.updated;
    result.extra = counts.extra;
    result.events = std::move(out.events);
    sortAddressLines(unsorted, isNew, addressSort, addressOrder, result);
    // the address files here while the change files are written beside
    // (on a first run both are the same lines, gathered once)
    if (sinks && sinks->addresses && !result.decisionNeeded) {
        QIODevice* both[] = {sinks->addresses, sinks->newAddresses};
        if (result.allNew) {
            result.addresses.writeTo(both);
        } else {
            both[0] = result.addresses.writeTo(*both[0]) ? both[0] : nullptr;
            both[1] = result.newAddressLines().writeTo(*both[1]) ? both[1] : nullptr;
        }
        sinks->addressesFailed = !both[0];
        sinks->newAddressesFailed = !both[1];
    }
    changeReport();
    release();
    changeFiles.join();
    return result;
}

} // namespace

RunResult buildRun(const RunRequest& request)
{
    return buildRunTo(request, nullptr);
}

RunResult performRun(const RunRequest& request)
{
    const QString product = trimmed(request.selectedProduct);
    const QString batchPath = request.folder + batchFileName();
    const QString addressFile = addressFileName(product);
    const QString addressPath = request.folder + addressFile;
    const QString nothingReplaced = QStringLiteral("no file was replaced");
    // The batch file and the files that describe its accounts belong
    // together: all are written in full, then put in place together. The
    // address files, whose names come from the report, go in place first.
    ReplacingFile addresses(addressPath), newAddresses(request.folder + newCustomersFileName(product)),
        changes(request.folder + changesFileName(product)), ledger(request.folder + ledgerFileName(product)),
        batch(batchPath);
    const std::vector<ReplacingFile*> group {&addresses, &newAddresses, &changes, &ledger, &batch};
    const auto path = [&](const ReplacingFile* file) {
        const QString names[] = {addressPath, request.folder + newCustomersFileName(product),
            request.folder + changesFileName(product), request.folder + ledgerFileName(product), batchPath};
        return names[std::find(group.begin(), group.end(), file) - group.begin()];
    };
    // A run killed between its renames left temporaries, one of them with
    // every password: they go before this run makes its own.
    for (const auto& [file, signature] : std::initializer_list<std::pair<const ReplacingFile*, QByteArrayView>> {
             {&batch, "echo batch file for product: "}, {&ledger, "# accounts of "}, {&changes, "# accounts of "},
             {&addresses, {}}, {&newAddresses, {}}})
        ReplacingFile::removeLeftovers(path(file), signature);
    // the batch file first: a folder that takes no file is named by it
    for (ReplacingFile* file : {&batch, &addresses, &newAddresses, &changes, &ledger}) {
        if (!file->open())
            fail(path(file), *file, nothingReplaced);
    }
    // The change report, the ledger and the address files are written by
    // the run as soon as they are made, and the batch file too unless its
    // lines are kept.
    RunSinks sinks;
    sinks.script = request.keepScriptLines ? nullptr : &batch.device();
    sinks.changes = &changes.device();
    sinks.ledger = &ledger.device();
    sinks.addresses = &addresses.device();
    sinks.newAddresses = &newAddresses.device();
    RunResult result = buildRunTo(request, &sinks);
    if (result.decisionNeeded)
        return result; // the temporaries go, the old files stay
    if (request.keepScriptLines)
        sinks.scriptFailed = !result.script.writeTo(batch.device());
    if (sinks.scriptFailed || !flushed(batch))
        fail(batchPath, batch, nothingReplaced);
    for (const auto& [file, failed] :
        {std::pair {&addresses, sinks.addressesFailed}, {&newAddresses, sinks.newAddressesFailed},
            {&changes, sinks.changesFailed}, {&ledger, sinks.ledgerFailed}}) {
        if (failed || !flushed(*file))
            fail(path(file), *file, nothingReplaced);
    }
    // a customer who asked not to be mailed is listed before any file is
    // replaced: listing one more never harms, mailing one does
    const QString doNotContact = addDoNotContact(*request.report, request.lists, runStampOf(request));
    // a report cut short while it was read gave lines that are not its own
    if (request.report->sourceLost())
        throw RunError("The report changed while it was read: part of it went, and no file was replaced. Run "
                       "again once the report is complete");
    if (ReplacingFile* failedFile = nullptr; !ReplacingFile::commitAll(group, &failedFile))
        fail(path(failedFile), *failedFile, nothingReplaced);
    // The mailer's field names (order, date, name) find their columns by
    // this, in the whole address file and in the new customers' alike.
    try {
        for (const ReplacingFile* file : {&addresses, &newAddresses})
            recordAddressColumns(settingsPathIn(request.folder), path(file), addressColumns(request.options));
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
    result.notes = skippedLineNotes(*request.report) + excludedOrderNotes(*request.report) + result.notes;
    if (!doNotContact.isEmpty())
        result.notes.append(doNotContact);
    if (request.lists)
        result.notes += missingListNotes(*request.lists);
    return result;
}

} // namespace og
