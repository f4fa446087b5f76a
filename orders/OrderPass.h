#pragma once
// The passes of a run that decide each customer's account, first over the
// report's orders, then over the goodguys.txt customers the orders did not
// give. Each decision is an account event: the batch file writes its line
// and the run's list keeps it; the address line is written here. Used by
// ScriptRun.

#include "orders/AccountChanges.h"
#include "orders/AccountEvents.h"
#include "orders/AddressSort.h"
#include "orders/BatchFile.h"
#include "orders/CustomerLists.h"
#include "orders/LineBlock.h"
#include "orders/Options.h"
#include "orders/Prefault.h"
#include "orders/Report.h"

#include <vector>

namespace og {

struct OrderPassInput {
    const Report* report;
    const CustomerLists* lists;
    const Options* options;
    bool allProducts;
    int product; // index into the report's products when !allProducts
};

struct OrderPassOutput {
    LineBlock addresses; // unsorted
    // the sort keys of addresses, made beside them on a big run
    AddressOrder addressOrder;
    AccountEvents events;
    // the account of each event that makes one, in the same order
    RunAccounts accounts;
    // per goodguys.txt entry: a report order wrote its address
    std::vector<char> admittedWritten;
    // goodguys.txt entries for the product whose address or order number
    // htpasswd refuses: no account, no address line
    std::vector<qsizetype> admittedRefused;
};

// The orders among report lines [from, to).
void passOrders(const OrderPassInput& in, qsizetype from, qsizetype to, BatchFile& batch, OrderPassOutput& out);

// The goodguys.txt entries for a product (the trimmed text of the product
// list's entry, "All" for every entry) that a run takes unless its orders
// wrote their address, found apart from the orders (on another core while
// they are passed): entries for the product, each address once, with those
// whose address or order number htpasswd refuses marked.
struct AdmittedCandidates {
    struct Entry {
        uint32_t entry;
        int32_t first; // the first entry with the address, ignoring case
        bool refused;
    };
    HugeVector<Entry> entries; // in file order
};
AdmittedCandidates admittedCandidates(const CustomerLists& lists, const QString& product);

// The goodguys.txt customers among candidates whose address no order wrote.
void passAdmitted(
    const OrderPassInput& in, const AdmittedCandidates& candidates, BatchFile& batch, OrderPassOutput& out);

} // namespace og
