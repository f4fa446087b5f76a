#pragma once
// What a refusal from an SMTP server means for the rest of a run: whether it
// is about the one message (its recipient, its content), worth trying again
// later, or about the sender, this client, the login or the account's
// sending limit, which would refuse every later message just the same.

#include <string>

namespace og {

enum class TReplyVerdict {
    Accepted,  // 2xx or 3xx
    Temporary, // 4xx: try the same message again later
    Permanent, // 5xx about this message or recipient
    Sender,    // the server will not take mail from this sender
    Client,    // the server will not take mail from this machine
    Login,     // the login was refused or is required (530, 535, x.7.8)
    Quota,     // the account's sending limit is reached
    Throttled, // 4xx: the server asks this client to send more slowly
};

// Judges the last line of a reply (a 4xx with 4.7.x or words of rate or
// number, "too many", "too much mail", "limit", is throttling) ("550 5.7.1 <a@b>: Sender address
// rejected: ...") by its code, its enhanced status and the words the common
// servers put in it.
TReplyVerdict JudgeReply(int code, const std::string& line);

// Whether the verdict ends every later message too.
inline bool EndsTheRun(TReplyVerdict verdict)
{
    return verdict == TReplyVerdict::Sender || verdict == TReplyVerdict::Client || verdict == TReplyVerdict::Login ||
        verdict == TReplyVerdict::Quota;
}

} // namespace og
