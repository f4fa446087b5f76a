#pragma once
// Address and text helpers of the message layer.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace og {

// Removes every leading and trailing character whose code is 32 or less.
std::string TrimControl(std::string_view text);

// Splits a mailbox text into (address, name):
//   "Name <addr>"  -> addr, Name      "addr (Name)" -> addr, Name
//   anything else  -> the text itself as address (untrimmed).
// Surrounding double or single quotes leave the name; an empty name becomes
// the address.
std::pair<std::string, std::string> ParseAddress(const std::string& text);

// The address part of ParseAddress.
std::string ExtractAddress(const std::string& text);

// ExtractAddress, raising og::Exception(what + " not specified.") when empty.
std::string RequireAddress(const std::string& text, const std::string& what);

// Items joined with "," and nothing else.
std::string JoinAddresses(const std::vector<std::string>& items);

enum ReplaceFlags : int {
    rfReplaceAll = 1,
    rfIgnoreCase = 2,
};

// Replaces the first (or, with rfReplaceAll, every) occurrence of pattern.
// rfIgnoreCase compares ASCII letters case-insensitively; the kept text is the
// source's own.
std::string ReplaceText(
    const std::string& source, const std::string& pattern, const std::string& replacement, int flags);

// Equal texts when ASCII letters are compared without regard to case.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// True when the text holds a CR or an LF.
bool HoldsLineBreak(std::string_view text);

// Cuts a text at CR LF, lone CR and lone LF; a text without breaks gives
// itself as the only line.
std::vector<std::string> SplitLineBreaks(std::string_view text);

} // namespace og
