// The message as lines: the header block with encoded words and folding, the
// text (7-bit or quoted-printable) and the multipart body.

#include "mail/EncodeWire.h"
#include "mail/MailText.h"
#include "mail/MimeText.h"
#include "mail/WireMessage.h"

#include <algorithm>
#include <string_view>

namespace og {

namespace {

const char* const AddressHeaders[] = {"From", "To", "Cc", "Bcc", "Reply-To", "Sender"};
// Structured values that never hold encoded words.
const char* const StructuredHeaders[] = {"Date", "Message-ID", "MIME-Version", "Content-Type",
    "Content-Transfer-Encoding", "References", "In-Reply-To", "Newsgroups", "List-Unsubscribe", "List-Unsubscribe-Post",
    "List-Id"};

template <std::size_t N>
bool NamedIn(const std::string& name, const char* const (&names)[N])
{
    for (const char* candidate : names)
        if (SameTextIgnoringCase(name, candidate))
            return true;
    return false;
}

std::string Joined(const std::vector<std::string>& words)
{
    std::string out;
    for (const auto& word : words)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

// An entry that holds line breaks is several lines.
std::vector<std::string> SplitTextLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const auto& entry : lines) {
        if (!HoldsLineBreak(entry)) {
            out.push_back(entry);
            continue;
        }
        for (auto& piece : SplitLineBreaks(entry))
            out.push_back(std::move(piece));
    }
    return out;
}

void WriteLines(const std::vector<std::string>& lines, TLineSink& sink)
{
    for (const auto& line : lines)
        sink.WriteLine(line);
}

// Lines each ended by a line feed; one buffer carries them to the sink.
void WriteEncodedLines(std::string_view text, TLineSink& sink)
{
    std::string line;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        line.assign(text.substr(at, end - at));
        sink.WriteLine(line);
        at = end + 1;
    }
}

// The part header of one attachment. ASCII names keep the quoted form they
// always had; other names go as RFC 2231 "filename*" for current readers with
// an encoded-word "name" beside it for old ones.
void WriteAttachmentHeader(const TAttachment& attachment, TLineSink& sink)
{
    constexpr const char* Indent = "        ";
    const std::string& name = attachment.StoredName;
    const std::string type = attachment.ContentType.empty() ? "application/octet-stream" : attachment.ContentType;
    sink.WriteLine("Content-Type: " + type + ";");
    if (IsAscii(name))
        sink.WriteLine(Indent + ("name=" + QuotedParameter(name)));
    else
        WriteLines(FoldHeader(Indent + ("name=\"" + Joined(EncodedWords(name, HeaderLineLimit - 15)) + "\"")), sink);
    sink.WriteLine("Content-Transfer-Encoding: base64");
    sink.WriteLine("Content-Disposition: attachment;");
    if (IsAscii(name))
        sink.WriteLine(Indent + ("filename=" + QuotedParameter(name)));
    else
        for (const auto& piece : ExtendedParameter("filename", name, 8))
            sink.WriteLine(Indent + piece);
}

} // namespace

TWireMessage::TTextBody TWireMessage::EncodedLines(std::vector<std::string> lines)
{
    TTextBody text;
    text.Lines = std::move(lines);
    for (const auto& line : text.Lines) {
        text.NonAscii = text.NonAscii || !IsAscii(line);
        text.Quoted = text.Quoted || line.size() > MailLineLimit;
    }
    text.Quoted = text.Quoted || text.NonAscii;
    if (text.Quoted)
        text.Lines = QuotedPrintableLines(text.Lines);
    return text;
}

TWireMessage::TTextBody TWireMessage::EncodedText() const
{
    return EncodedLines(SplitTextLines(Text));
}

TWireMessage::TTextBody TWireMessage::EncodedHtml() const
{
    if (HtmlText.empty())
        return {};
    std::vector<std::string> lines = SplitLineBreaks(HtmlText);
    if (lines.size() > 1 && lines.back().empty())
        lines.pop_back(); // the last line's break is the part's end
    return EncodedLines(std::move(lines));
}

std::string TWireMessage::TextContentType(const TTextBody& text) const
{
    if (!text.NonAscii)
        return ContentType;
    if (ContentType.empty())
        return "text/plain; charset=utf-8";
    // A character set the caller named is kept.
    const std::string lower = ReplaceText(ContentType, "CHARSET", "charset", rfReplaceAll | rfIgnoreCase);
    return lower.find("charset") == std::string::npos ? ContentType + "; charset=utf-8" : ContentType;
}

std::string TWireMessage::ChooseBoundary(const char* base, const TTextBody& text, const TTextBody& html) const
{
    // Base64 holds no "=" before its end and no "_", so only the texts and
    // the names can hold a boundary.
    auto occurs = [&](const std::string& boundary) {
        for (const auto* body : {&text, &html})
            for (const auto& line : body->Lines)
                if (line.find(boundary) != std::string::npos)
                    return true;
        for (const auto& attachment : Attachments)
            if (attachment.StoredName.find(boundary) != std::string::npos)
                return true;
        return false;
    };
    std::string boundary = base;
    for (int n = 1; occurs(boundary); ++n)
        boundary = std::string(base) + "_" + std::to_string(n);
    return boundary;
}

std::string TWireMessage::MailboxesText(const std::string& name, const std::string& value) const
{
    std::vector<std::string> entries {value};
    if (SameTextIgnoringCase(name, "To") && value == JoinAddresses(Too))
        entries = Too;
    else if (SameTextIgnoringCase(name, "Cc") && value == JoinAddresses(CCList))
        entries = CCList;
    if (IsAscii(value))
        return value;
    std::string out;
    for (const auto& entry : entries) {
        if (!out.empty())
            out += ", ";
        const auto [address, display] = ParseAddress(entry);
        if (IsAscii(entry) || !IsAscii(address)) {
            out += entry; // the address check refuses the second kind first
            continue;
        }
        const std::size_t room = out.empty() ? HeaderLineLimit - name.size() - 2 : 75;
        out += Joined(EncodedWords(display, room)) + " <" + address + ">";
    }
    return out;
}

std::string TWireMessage::HeaderText(const std::string& name, const std::string& value) const
{
    if (NamedIn(name, AddressHeaders))
        return MailboxesText(name, value);
    if (NamedIn(name, StructuredHeaders))
        return value;
    // A value that a field filled in may hold anything: what a header may
    // not hold goes, and what a reader would take for encoding is encoded.
    const std::string text = UnstructuredText(value);
    if (!NeedsEncodedWords(text, name.size()))
        return text;
    return Joined(EncodedWords(text, HeaderLineLimit - name.size() - 2));
}

void TWireMessage::WriteHeaders(TLineSink& sink) const
{
    for (const auto& line : Headers.Lines()) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            WriteLines(FoldHeader(line), sink);
            continue;
        }
        const std::string name = line.substr(0, eq);
        WriteLines(FoldHeader(name + ": " + HeaderText(name, line.substr(eq + 1))), sink);
    }
    sink.WriteLine({});
}

void TWireMessage::WriteTextParts(const TTextBody& text, const TTextBody& html, TLineSink& sink) const
{
    const auto writePart = [&sink](const std::string& type, const TTextBody& body) {
        sink.WriteLine("Content-Type: " + type);
        sink.WriteLine(body.Quoted ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: 7bit");
        sink.WriteLine({});
        WriteLines(body.Lines, sink);
    };
    if (HtmlText.empty()) {
        writePart(TextContentType(text), text);
        return;
    }
    const std::string separator = "--" + ChooseBoundary(AltBoundary, text, html);
    sink.WriteLine(separator);
    writePart(TextContentType(text), text);
    sink.WriteLine({});
    sink.WriteLine(separator);
    writePart("text/html; charset=utf-8", html);
    sink.WriteLine({});
    sink.WriteLine(separator + "--");
}

void TWireMessage::WriteBody(TLineSink& sink) const
{
    const TTextBody text = EncodedText();
    if (Attachments.empty() && HtmlText.empty()) {
        WriteLines(text.Lines, sink);
        return;
    }
    const TTextBody html = EncodedHtml();
    sink.WriteLine("This is a multi-part message in MIME format.");
    sink.WriteLine({});
    if (Attachments.empty()) {
        WriteTextParts(text, html, sink);
        return;
    }
    const std::string separator = "--" + ChooseBoundary(Boundary, text, html);
    sink.WriteLine(separator);
    if (!HtmlText.empty()) {
        WriteLines(FoldHeader("Content-Type: multipart/alternative; boundary=\"" +
                       ChooseBoundary(AltBoundary, text, html) + "\""),
            sink);
        sink.WriteLine({});
    }
    WriteTextParts(text, html, sink);

    TWireEncoder encoder;
    for (const auto& attachment : Attachments) {
        sink.WriteLine({});
        sink.WriteLine(separator);
        WriteAttachmentHeader(attachment, sink);
        sink.WriteLine({});
        if (attachment.Encoded)
            WriteEncodedLines(*attachment.Encoded, sink);
        else
            encoder.EncodeFile(&sink, attachment.FileName);
    }
    sink.WriteLine(separator + "--");
}

void TWireMessage::WriteTo(TLineSink& sink) const
{
    WriteHeaders(sink);
    WriteBody(sink);
}

void WriteTextLines(const std::vector<std::string>& lines, TLineSink& sink)
{
    WriteLines(SplitTextLines(lines), sink);
}

} // namespace og
