#include "orders/AccountEvents.h"

namespace og {

AccountCounts AccountEvents::counts() const
{
    AccountCounts counts;
    for (const Entry& entry : entries_) {
        switch (entry.change()) {
        case AccountChange::AddressChanged:
            ++counts.updated;
            [[fallthrough]];
        case AccountChange::FromReport:
            ++counts.written;
            break;
        case AccountChange::Blocked:
            ++counts.blocked;
            break;
        case AccountChange::Added:
            ++counts.extra;
            break;
        }
    }
    return counts;
}

} // namespace og
