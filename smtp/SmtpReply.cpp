#include "smtp/SmtpReply.h"

#include <algorithm>
#include <cctype>

namespace og {

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The enhanced status code after the reply code ("5.7.1"), or empty.
std::string EnhancedStatus(const std::string& line)
{
    if (line.size() < 9 || (line[3] != ' ' && line[3] != '-'))
        return {};
    const std::size_t end = line.find(' ', 4);
    const std::string status = line.substr(4, end == std::string::npos ? std::string::npos : end - 4);
    const bool shaped = status.size() >= 5 && std::isdigit(static_cast<unsigned char>(status[0])) && status[1] == '.' &&
        std::count(status.begin(), status.end(), '.') == 2;
    return shaped ? status : std::string();
}

bool Has(const std::string& text, const char* words)
{
    return text.find(words) != std::string::npos;
}

} // namespace

TReplyVerdict JudgeReply(int code, const std::string& line)
{
    if (code < 400)
        return TReplyVerdict::Accepted;
    const std::string status = EnhancedStatus(line);
    const std::string text = Lower(line);
    // A full mailbox (x.2.2) is the recipient's quota, not the sender's.
    const bool mailboxFull = status.size() >= 5 && status.compare(1, 4, ".2.2") == 0;
    const bool slowDown = status.compare(0, 4, "4.7.") == 0 || Has(text, " rate") || Has(text, "ratelimit") ||
        Has(text, "too many") || Has(text, "too much") || Has(text, "limit") || Has(text, "throttl") ||
        Has(text, "slow down");
    if (code < 500 && !mailboxFull && !Has(text, "quota") && status != "4.7.8" && slowDown)
        return TReplyVerdict::Throttled;
    if (!mailboxFull &&
        (status == "4.5.3" || status == "5.4.5" || Has(text, "quota") || Has(text, "sending limit") ||
            Has(text, "rate limit")))
        return TReplyVerdict::Quota;
    if (code == 530 || code == 535 || (status.size() >= 5 && status.compare(1, 4, ".7.8") == 0))
        return TReplyVerdict::Login;
    if (code >= 500 && status.size() >= 3 && status.compare(0, 3, "5.7") == 0) {
        if (Has(text, "sender"))
            return TReplyVerdict::Sender;
        if (Has(text, "client") || Has(text, "relay"))
            return TReplyVerdict::Client;
    }
    return code < 500 ? TReplyVerdict::Temporary : TReplyVerdict::Permanent;
}

} // namespace og
