#pragma once
// The MIME encodings of the message layer: quoted-printable text (RFC 2045),
// encoded words for header text (RFC 2047), parameter values (RFC 2045 quoted
// strings and RFC 2231 extended values) and header folding (RFC 5322).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace og {

// The longest header line we write, line end not counted.
constexpr std::size_t HeaderLineLimit = 78;
// The longest line any mail server must accept, line end not counted.
constexpr std::size_t MailLineLimit = 998;

bool IsAscii(std::string_view text);

// Quoted-printable lines for the text lines: every byte outside printable
// ASCII, "=" and blanks at a line's end as =XX, and lines longer than 76
// characters cut with soft breaks. A leading "." stays as it is: the
// connection doubles it.
std::vector<std::string> QuotedPrintableLines(const std::vector<std::string>& lines);

// UTF-8 text as "=?utf-8?b?...?=" words, none longer than 75 characters and
// the first no longer than firstLimit; a character is never split.
std::vector<std::string> EncodedWords(std::string_view utf8, std::size_t firstLimit = 75);

// Text for an unstructured header (a subject) as it may stand there: control
// characters (C0 but the tab, DEL, C1) left out, and cut to MailLineLimit
// bytes, never inside a character. *cut, when given, says whether it was.
std::string UnstructuredText(std::string_view utf8, bool* cut = nullptr);
// Whether unstructured text must go as encoded words: it is not ASCII, it
// holds "=?" (which a reader would decode), or a word of it would pass the
// mail line limit after a header name of nameLength (encoded words fold).
bool NeedsEncodedWords(std::string_view text, std::size_t nameLength);

// A parameter value as a quoted string: "we\"ird name.txt".
std::string QuotedParameter(std::string_view value);

// An RFC 2231 parameter for a UTF-8 value: name*=utf-8''%C3%A9.txt, or
// continued over several pieces (name*0*=...; name*1*=...) so each piece with
// the indent stays within the header line limit. Each piece but the last ends
// with ";".
std::vector<std::string> ExtendedParameter(std::string_view name, std::string_view utf8, std::size_t indent);

// "Name: value" cut before blanks of the value so that no line passes the
// header line limit where a blank allows it; unfolding gives the line back.
// When the value's first word would pass the limit on the name's line, the
// blank after the colon is a cut too.
std::vector<std::string> FoldHeader(const std::string& line);

} // namespace og
