#include "mail/MailText.h"

#include "net/WireExceptions.h"

namespace og {

namespace {

bool IsControlOrBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool QuotedBy(const std::string& s, char quote)
{
    return s.size() > 1 && s.front() == quote && s.back() == quote;
}

} // namespace

std::string TrimControl(std::string_view text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsControlOrBlank(text[first]))
        ++first;
    while (last > first && IsControlOrBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

std::pair<std::string, std::string> ParseAddress(const std::string& text)
{
    std::string address;
    std::string name;
    if (!text.empty() && text.back() == '>') {
        const auto open = text.find('<');
        if (open != std::string::npos) {
            address = TrimControl(std::string_view(text).substr(open + 1, text.size() - 1 - (open + 1)));
            name = TrimControl(std::string_view(text).substr(0, open));
        }
    } else if (!text.empty() && text.back() == ')') {
        const auto open = text.find('(');
        if (open != std::string::npos) {
            name = TrimControl(std::string_view(text).substr(open + 1, text.size() - 1 - (open + 1)));
            address = TrimControl(std::string_view(text).substr(0, open));
        }
    } else {
        address = text;
    }
    while (QuotedBy(name, '"') || QuotedBy(name, '\''))
        name = name.substr(1, name.size() - 2);
    if (name.empty())
        name = address;
    return {address, name};
}

std::string ExtractAddress(const std::string& text)
{
    return ParseAddress(text).first;
}

std::string RequireAddress(const std::string& text, const std::string& what)
{
    std::string address = ExtractAddress(text);
    if (address.empty())
        throw Exception(what + " not specified.");
    return address;
}

std::string JoinAddresses(const std::vector<std::string>& items)
{
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            joined += ',';
        joined += items[i];
    }
    return joined;
}

std::string ReplaceText(
    const std::string& source, const std::string& pattern, const std::string& replacement, int flags)
{
    if (source.empty())
        return {};
    if (pattern.empty())
        return source;
    const bool all = (flags & rfReplaceAll) != 0;
    const bool ignoreCase = (flags & rfIgnoreCase) != 0;

    auto matchesAt = [&](std::size_t pos) {
        for (std::size_t k = 0; k < pattern.size(); ++k) {
            char a = source[pos + k];
            char b = pattern[k];
            if (ignoreCase) {
                a = UpperAscii(a);
                b = UpperAscii(b);
            }
            if (a != b)
                return false;
        }
        return true;
    };

    std::string result;
    result.reserve(source.size());
    std::size_t pos = 0;
    bool replaced = false;
    while (pos < source.size()) {
        if ((!replaced || all) && pos + pattern.size() <= source.size() && matchesAt(pos)) {
            result += replacement;
            pos += pattern.size();
            replaced = true;
            continue;
        }
        result += source[pos];
        ++pos;
    }
    return result;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

bool HoldsLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::vector<std::string> SplitLineBreaks(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

} // namespace og
