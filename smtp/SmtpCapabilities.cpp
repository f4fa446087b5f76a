#include "smtp/SmtpCapabilities.h"

#include <algorithm>
#include <cctype>

namespace og {

namespace {

std::string UpperCase(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

bool SameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
        return std::toupper(x) == std::toupper(y);
    });
}

std::vector<std::string_view> Words(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ' || text[at] == '\t') {
            ++at;
            continue;
        }
        std::size_t end = text.find_first_of(" \t", at);
        if (end == std::string_view::npos)
            end = text.size();
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

} // namespace

TSmtpCapabilities TSmtpCapabilities::Parse(const std::vector<std::string>& replyLines)
{
    TSmtpCapabilities result;
    for (std::size_t i = 1; i < replyLines.size(); ++i) {
        const std::string& line = replyLines[i];
        if (line.size() < 5)
            continue;
        std::vector<std::string_view> words = Words(std::string_view(line).substr(4));
        if (words.empty())
            continue;
        std::string_view keyword = words.front();
        std::vector<std::string_view> parameters(words.begin() + 1, words.end());
        if (const std::size_t eq = keyword.find('=');
            eq != std::string_view::npos && SameLetters(keyword.substr(0, eq), "AUTH")) {
            if (eq + 1 < keyword.size())
                parameters.insert(parameters.begin(), keyword.substr(eq + 1));
            keyword = keyword.substr(0, eq);
        }
        std::string name = UpperCase(keyword);
        auto entry = std::find_if(
            result.entries_.begin(), result.entries_.end(), [&](const auto& e) { return e.first == name; });
        if (entry == result.entries_.end()) {
            result.entries_.emplace_back(std::move(name), std::vector<std::string> {});
            entry = result.entries_.end() - 1;
        }
        for (std::string_view p : parameters) {
            const bool known = std::any_of(entry->second.begin(), entry->second.end(),
                [&](const std::string& have) { return SameLetters(have, p); });
            if (!known)
                entry->second.emplace_back(p);
        }
    }
    return result;
}

const std::vector<std::string>* TSmtpCapabilities::Find(std::string_view keyword) const
{
    for (const auto& [name, parameters] : entries_)
        if (SameLetters(name, keyword))
            return &parameters;
    return nullptr;
}

bool TSmtpCapabilities::Has(std::string_view keyword) const
{
    return Find(keyword) != nullptr;
}

std::vector<std::string> TSmtpCapabilities::Parameters(std::string_view keyword) const
{
    const auto* found = Find(keyword);
    return found ? *found : std::vector<std::string> {};
}

std::vector<std::string> TSmtpCapabilities::AuthMechanisms() const
{
    std::vector<std::string> mechanisms;
    for (const std::string& p : Parameters("AUTH"))
        mechanisms.push_back(UpperCase(p));
    return mechanisms;
}

bool TSmtpCapabilities::HasAuthMechanism(std::string_view mechanism) const
{
    const auto* found = Find("AUTH");
    return found &&
        std::any_of(found->begin(), found->end(), [&](const std::string& p) { return SameLetters(p, mechanism); });
}

} // namespace og
