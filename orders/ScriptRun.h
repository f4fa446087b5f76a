#pragma once
// One run of the first job: the batch file "MakePass.ksh", the address file
// and the run statistics.

#include "orders/AccountChanges.h"
#include "orders/AccountEvents.h"
#include "orders/AddressSort.h"
#include "orders/BatchFile.h"
#include "orders/CustomerLists.h"
#include "orders/LineBlock.h"
#include "orders/Options.h"
#include "orders/ProductFiles.h"
#include "orders/Report.h"

#include <QString>
#include <QStringList>
#include <stdexcept>
#include <vector>

namespace og {

// A file of the run could not be created or written. The message names the
// file and gives the system's reason.
class RunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RunRequest {
    const Report* report = nullptr;
    // The text of the product list's selected item (trimmed by the run).
    QString selectedProduct;
    // True when the product list's first item is selected.
    bool allProducts = false;
    Options options;
    const CustomerLists* lists = nullptr; // may be null: no lists
    QString folder;                       // ends in "/"
    // false: performRun writes the batch file as it is made and keeps none
    // of its lines in RunResult::script (the command line's choice, for
    // memory); the address lines are always kept.
    bool keepScriptLines = true;
    // Whether options.keepaccounts Drop is the vendor's own choice (not a
    // default): only then does a ledger that cannot be trusted give way to a
    // fresh one instead of stopping the run.
    bool dropChosen = true;
    // When the run happens, as the ledger records it; empty: now (UTC).
    QString runStamp;
};

struct RunResult {
    QString product;        // trimmed
    LineBlock script;       // the batch file's lines, as written
    LineBlock addresses;    // the address file's lines, sorted, as written
    QStringList statistics; // the seven lines, then "N lines skipped" and "N orders excluded" when some were
    // What the run could not use, for the user to see: skipped report lines,
    // lists not found.
    QStringList notes;
    // What happened to each customer's account, in the batch file's order,
    // and the statistics counted from it.
    AccountEvents events;
    qint64 written = 0, blocked = 0, updated = 0, extra = 0;

    // Compared with the ledger of the runs before (orders/AccountChanges.h):
    // the summary line and the customers of each change (the first few).
    QStringList changes;
    AccountChangeCounts changeCounts;
    // With options.keepaccounts Ask and customers of earlier runs whose
    // accounts could be kept (keepable of them): nothing was written, and
    // the run is to be made again with Keep or Drop.
    bool decisionNeeded = false;
    qsizetype keepable = 0;
    // email_<product>_new.txt, sorted: newAddressLines(). When every
    // customer is new (a first run) they are the address lines, not a copy.
    LineBlock newAddresses;
    bool allNew = false;
    const LineBlock& newAddressLines() const { return allNew ? addresses : newAddresses; }
};

// The first few skipped lines of a report, each with its number and reason,
// and how many more there are.
QStringList skippedLineNotes(const Report& report);
// "N orders excluded: Refunded? = true" for the rows the layout's rules
// excluded; empty when none were.
QString excludedRowsLine(const Report& report);
// The first excluded orders, each with its order number, address and
// reason, and how many more there are.
QStringList excludedOrderNotes(const Report& report);
// Puts the addresses of the customers who asked not to be mailed (the
// layout's doNotContact column) on the lists folder's unsubscribed.txt, and
// their new addresses of Address.txt too, dated day (YYYY-MM-DD...). Returns
// the note that says so, empty when none asked. Throws RunError when the
// list cannot be written.
QString addDoNotContact(const Report& report, const CustomerLists* lists, const QString& day);
// One line per list the lists' last load did not find.
QStringList missingListNotes(const CustomerLists& lists);

// Writes the batch file, the address file, the new customers' address
// file, the change report and the ledger into request.folder (every line
// ending in CR LF, UTF-8) and returns what the results window shows. They
// replace the earlier ones together or not at all. Throws RunError when a
// file cannot be read, created or written; the result, statistics
// included, comes only on success (or, with decisionNeeded, before anything
// was written).
RunResult performRun(const RunRequest& request);

// Builds the lines without writing anything (the ledger is read; the change
// report and the next ledger are not made).
RunResult buildRun(const RunRequest& request);

} // namespace og
