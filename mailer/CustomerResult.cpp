#include "mailer/CustomerResult.h"

namespace og {

namespace {

const struct {
    CustomerResult result;
    const char* journal;
    const char* shown;
} kWords[] = {
    {CustomerResult::Accepted, "accepted", "sent"},
    {CustomerResult::Refused, "refused", "refused"},
    {CustomerResult::Deferred, "deferred", "deferred (refused for now; resume to try again)"},
    {CustomerResult::NotSent, "not-sent", "not sent"},
    {CustomerResult::Unknown, "unknown", "not known whether sent (the connection broke after the message had gone)"},
};

} // namespace

QString journalWord(CustomerResult result)
{
    for (const auto& entry : kWords)
        if (entry.result == result)
            return QLatin1String(entry.journal);
    return QLatin1String(kWords[0].journal);
}

QString outcomeWords(CustomerResult result)
{
    for (const auto& entry : kWords)
        if (entry.result == result)
            return QLatin1String(entry.shown);
    return QLatin1String(kWords[0].shown);
}

} // namespace og
