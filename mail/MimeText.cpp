#include "mail/MimeText.h"

#include "mail/EncodeWire.h"

#include <algorithm>

namespace og {

namespace {

constexpr char Hex[] = "0123456789ABCDEF";
constexpr std::size_t QuotedPrintableWidth = 76; // soft break "=" included
constexpr std::string_view WordStart = "=?utf-8?b?";
constexpr std::string_view WordEnd = "?=";

void AppendHex(std::string& out, unsigned char c)
{
    out += Hex[c >> 4];
    out += Hex[c & 15];
}

// Bytes of the UTF-8 sequence that starts with `lead` (1 for stray bytes, so
// broken text still moves on).
std::size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

bool IsAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

std::vector<std::string> QuotedPrintableLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const auto& line : lines) {
        std::string current;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            std::string piece;
            if ((c >= 33 && c <= 126 && c != '=') || (IsBlank(static_cast<char>(c)) && !last))
                piece = static_cast<char>(c);
            else {
                piece = "=";
                AppendHex(piece, c);
            }
            // The last piece of the line may use the place of the soft break.
            const std::size_t room = last ? QuotedPrintableWidth : QuotedPrintableWidth - 1;
            if (current.size() + piece.size() > room) {
                out.push_back(current + "=");
                current.clear();
            }
            current += piece;
        }
        out.push_back(current);
    }
    return out;
}

std::vector<std::string> EncodedWords(std::string_view utf8, std::size_t firstLimit)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const std::size_t limit = words.empty() ? firstLimit : 75;
        const std::size_t overhead = WordStart.size() + WordEnd.size();
        // Base64 turns each 3 bytes into 4 characters; at least one character per word.
        const std::size_t maxBytes = limit > overhead + 4 ? (limit - overhead) / 4 * 3 : 3;
        std::size_t end = at;
        while (end < utf8.size()) {
            const std::size_t next = end + SequenceLength(static_cast<unsigned char>(utf8[end]));
            if (next - at > maxBytes && end > at)
                break;
            end = next < utf8.size() ? next : utf8.size();
        }
        words.push_back(
            std::string(WordStart) + TWireEncoder::EncodeBytes(utf8.substr(at, end - at)) + std::string(WordEnd));
        at = end;
    }
    return words;
}

std::string UnstructuredText(std::string_view utf8, bool* cut)
{
    std::string out;
    out.reserve(std::min(utf8.size(), MailLineLimit));
    for (std::size_t at = 0; at < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[at]);
        const std::size_t length = std::min(SequenceLength(c), utf8.size() - at);
        const bool c1 = c == 0xC2 && length == 2 && static_cast<unsigned char>(utf8[at + 1]) < 0xA0;
        if (!((c < 0x20 && c != '\t') || c == 0x7F || c1)) {
            if (out.size() + length > MailLineLimit) {
                if (cut)
                    *cut = true;
                return out;
            }
            out.append(utf8.substr(at, length));
        }
        at += length;
    }
    if (cut)
        *cut = false;
    return out;
}

bool NeedsEncodedWords(std::string_view text, std::size_t nameLength)
{
    if (!IsAscii(text) || text.find("=?") != std::string_view::npos)
        return true;
    std::size_t word = nameLength + 2; // the first word shares its line with "Name: "
    for (const char c : text) {
        word = IsBlank(c) ? 0 : word + 1;
        if (word > MailLineLimit)
            return true;
    }
    return false;
}

std::string QuotedParameter(std::string_view value)
{
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::vector<std::string> ExtendedParameter(std::string_view name, std::string_view utf8, std::size_t indent)
{
    // Characters that may stand for themselves in an extended value.
    auto plain = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
    };
    std::vector<std::string> values; // percent-encoded pieces, characters kept whole
    const std::string whole = std::string(name) + "*=utf-8''";
    const std::size_t room = HeaderLineLimit - indent - 1; // ";" at the end
    std::string current;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(utf8[at]));
        std::string piece;
        for (std::size_t k = at; k < at + length && k < utf8.size(); ++k) {
            const auto c = static_cast<unsigned char>(utf8[k]);
            if (plain(c))
                piece += static_cast<char>(c);
            else {
                piece += '%';
                AppendHex(piece, c);
            }
        }
        // The label of a continued piece is at most name*NN*=utf-8''.
        const std::size_t label = name.size() + 12;
        if (!current.empty() && label + current.size() + piece.size() > room) {
            values.push_back(current);
            current.clear();
        }
        current += piece;
        at += length;
    }
    values.push_back(current);

    if (values.size() == 1)
        return {whole + values.front()};
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::string piece = std::string(name) + "*" + std::to_string(i) + "*=" + (i == 0 ? "utf-8''" : "") + values[i];
        if (i + 1 < values.size())
            piece += ';';
        pieces.push_back(piece);
    }
    return pieces;
}

std::vector<std::string> FoldHeader(const std::string& line)
{
    std::vector<std::string> lines;
    std::string rest = line;
    // Never cut before the first word of the value: "Name:" alone says nothing.
    std::size_t from = rest.find(':');
    from = from == std::string::npos ? 0 : from + 1;
    const std::size_t colon = from;
    while (from < rest.size() && IsBlank(rest[from]))
        ++from;
    // A first word that passes the limit beside the name goes on a line of
    // its own where it fits there, when a blank after the colon allows it.
    if (from > colon && rest.size() > HeaderLineLimit) {
        std::size_t end = rest.find_first_of(" \t", from);
        end = end == std::string::npos ? rest.size() : end;
        if (end > HeaderLineLimit && end - from + 1 <= HeaderLineLimit)
            from = colon - 1; // the colon: the blank after it is a cut
    }
    while (rest.size() > HeaderLineLimit) {
        // A cut before the blank at `at` leaves rest[at..] for the next line,
        // which must hold more than blanks.
        auto usable = [&](std::size_t at) {
            if (at <= from || !IsBlank(rest[at]))
                return false;
            return rest.find_first_not_of(" \t", at) != std::string::npos;
        };
        std::size_t cut = std::string::npos;
        for (std::size_t at = HeaderLineLimit; at > from; --at)
            if (usable(at)) {
                cut = at;
                break;
            }
        if (cut == std::string::npos) {
            // One word longer than the line: cut at the first blank after it.
            for (std::size_t at = HeaderLineLimit + 1; at < rest.size(); ++at)
                if (usable(at)) {
                    cut = at;
                    break;
                }
        }
        if (cut == std::string::npos)
            break;
        lines.push_back(rest.substr(0, cut));
        rest.erase(0, cut);
        from = rest.find_first_not_of(" \t");
    }
    lines.push_back(rest);
    return lines;
}

} // namespace og
