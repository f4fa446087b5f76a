#include "mailer/CustomerResult.h"

#include "common/WordTable.h"

namespace og {

namespace {

constexpr EnumWord<CustomerResult> kJournalWords[] = {
    {CustomerResult::Accepted, "accepted"},
    {CustomerResult::Refused, "refused"},
    {CustomerResult::Deferred, "deferred"},
    {CustomerResult::NotSent, "not-sent"},
    {CustomerResult::Unknown, "unknown"},
};

constexpr EnumWord<CustomerResult> kShownWords[] = {
    {CustomerResult::Accepted, "sent"},
    {CustomerResult::Refused, "refused"},
    {CustomerResult::Deferred, "deferred (refused for now; resume to try again)"},
    {CustomerResult::NotSent, "not sent"},
    {CustomerResult::Unknown, "not known whether sent (the connection broke after the message had gone)"},
};

} // namespace

QString journalWord(CustomerResult result)
{
    return wordOf(kJournalWords, result);
}

QString outcomeWords(CustomerResult result)
{
    return wordOf(kShownWords, result);
}

} // namespace og
