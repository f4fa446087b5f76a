#pragma once
// What became of one customer's message, and the words for it: the one home
// (a word table for the journal, one for people) that the journal, the log,
// the summary, the status line and the command line all take them from.

#include <QString>

namespace og {

enum class CustomerResult {
    Accepted, // the server answered 250 after the data
    Refused,  // the server refused it for good (a 5xx to the recipient or to the data)
    Deferred, // the server asked to try later (a 4xx, a 421) or the connection broke before the data
    NotSent,  // nothing of it went (Stop, or a failure before the data that ended the run)
    Unknown,  // the data went and no final reply came: it may have arrived
};

// The journal's word: "accepted", "refused", "deferred", "not-sent", "unknown".
QString journalWord(CustomerResult result);
// The words shown to the vendor: "sent", "refused", "deferred", "not sent",
// "not known whether sent (...)".
QString outcomeWords(CustomerResult result);

// Every result, in the order the summary lists them.
inline constexpr CustomerResult AllCustomerResults[] = {CustomerResult::Accepted, CustomerResult::Refused,
    CustomerResult::Deferred, CustomerResult::NotSent, CustomerResult::Unknown};

} // namespace og
