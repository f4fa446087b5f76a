#include "mail/WireMessage.h"

#include <algorithm>
#include <chrono>
#include <random>

#include <unistd.h>

#include "mail/EncodeWire.h"
#include "mail/MailText.h"
#include "mail/MimeText.h"
#include "mail/TimeZone.h"
#include "net/Wire.h"
#include "net/WireExceptions.h"

namespace og {

namespace {

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// The offending text with its breaks and other control characters spelled
// out, fit for an error box.
std::string Visible(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string shown;
    for (char c : text) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (IsControl(c))
            shown += std::string("\\x") + hex[(c >> 4) & 15] + hex[c & 15];
        else
            shown += c;
    }
    return shown;
}

void RefuseLineBreak(const std::string& text, const std::string& what)
{
    if (HoldsLineBreak(text))
        throw EWireException(what + " holds a line break (CR or LF); the message was not sent.");
}

void RefuseLineBreaks(const std::vector<std::string>& list, const std::string& what)
{
    for (const auto& item : list)
        RefuseLineBreak(item, what);
}

// The envelope carries the address as it is: a NUL, tab or escape there
// reaches the server's command parser.
// A recipient's address throws EWireAddressRefused, the sender's the plain
// EWireException: the one fails one customer, the other every message.
template <class Refusal>
void RefuseControlInAddress(const std::string& mailbox, const std::string& what)
{
    const std::string address = ExtractAddress(mailbox);
    if (std::any_of(address.begin(), address.end(), IsControl))
        throw Refusal(what + " \"" + Visible(address) +
            "\" holds a control character, which no mail address may hold; the message was not sent.");
}

template <class Refusal>
void RefuseNonAsciiAddress(const std::string& mailbox, bool utf8Addresses)
{
    const std::string address = ExtractAddress(mailbox);
    if (!utf8Addresses && !IsAscii(address))
        throw Refusal("The address \"" + address +
            "\" holds characters other than ASCII, which only a server that offers SMTPUTF8 takes; the message "
            "was not sent.");
}

// "<time.random@domain>": the time in microseconds and 120 random bits, both
// in base 32, so no two messages share it. The domain is the sender's, or the
// machine's name when the sender has none.
std::string NewMessageID(const std::string& from)
{
    constexpr char Digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string address = ExtractAddress(from);
    std::string domain =
        address.substr(address.rfind('@') == std::string::npos ? address.size() : address.rfind('@') + 1);
    const bool usable = !domain.empty() &&
        domain.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
            std::string::npos;
    if (!usable) {
        char host[256] = {};
        domain = ::gethostname(host, sizeof host - 1) == 0 && host[0] ? host : "localhost";
    }
    auto micro = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    std::string id;
    do {
        id.insert(id.begin(), Digits[micro & 31]);
        micro >>= 5;
    } while (micro);
    id += '.';
    std::random_device random;
    for (int word = 0; word < 4; ++word) {
        auto bits = static_cast<uint32_t>(random());
        for (int k = 0; k < 6; ++k, bits >>= 5)
            id += Digits[bits & 31];
    }
    return "<" + id + "@" + domain + ">";
}

} // namespace

// ---- THeaderStore ----------------------------------------------------------

int THeaderStore::IndexOfName(const std::string& name) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto eq = lines_[i].find('=');
        if (eq != std::string::npos && SameTextIgnoringCase(std::string_view(lines_[i]).substr(0, eq), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::string THeaderStore::Value(const std::string& name) const
{
    const int i = IndexOfName(name);
    if (i < 0)
        return {};
    const std::string& line = lines_[static_cast<std::size_t>(i)];
    return line.substr(line.find('=') + 1);
}

void THeaderStore::SetValueAfter(const std::string& after, const std::string& name, const std::string& value)
{
    if (value.empty() || IndexOfName(name) >= 0) {
        SetValue(name, value);
        return;
    }
    const int at = IndexOfName(after);
    if (at < 0)
        lines_.push_back(name + "=" + value);
    else
        lines_.insert(lines_.begin() + at + 1, name + "=" + value);
}

void THeaderStore::SetValue(const std::string& name, const std::string& value)
{
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0)
            lines_.erase(lines_.begin() + i);
        return;
    }
    if (i >= 0)
        lines_[static_cast<std::size_t>(i)] = name + "=" + value;
    else
        lines_.push_back(name + "=" + value);
}

// ---- TAttachments ----------------------------------------------------------

TAttachment& TAttachments::AddAttachment(const std::string& path)
{
    TAttachment& item = items_.emplace_back();
    item.FileName = path;
    const auto cut = path.find_last_of("/\\:");
    item.StoredName = cut == std::string::npos ? path : path.substr(cut + 1);
    return item;
}

// ---- TWireMessage ----------------------------------------------------------

void TWireMessage::SetDate(std::time_t when)
{
    Headers.SetValue("Date", FormatDateHeader(when));
}

void TWireMessage::PrepareHeaders()
{
    if (UseNowForDate)
        SetDate(std::time(nullptr));
    if (UseNewMessageID)
        Headers.SetValueAfter("Date", HeaderNames[6], NewMessageID(From()));
    const TTextBody text = EncodedText();
    if (!Attachments.empty() || !HtmlText.empty()) {
        const TTextBody html = EncodedHtml();
        const bool mixed = !Attachments.empty();
        Headers.SetValue("MIME-Version", "1.0");
        Headers.SetValue("Content-Type",
            std::string(mixed ? "multipart/mixed" : "multipart/alternative") + "; boundary=\"" +
                ChooseBoundary(mixed ? Boundary : AltBoundary, text, html) + "\"");
        Headers.SetValue("Content-Transfer-Encoding", "");
    } else {
        // A plain 7-bit text keeps the short header block it always had.
        Headers.SetValue("MIME-Version", text.Quoted ? "1.0" : "");
        Headers.SetValue("Content-Type", TextContentType(text));
        Headers.SetValue("Content-Transfer-Encoding", text.Quoted ? "quoted-printable" : "");
    }
}

void TWireMessage::PrepareToSend(const std::string& xProgram)
{
    PrepareHeaders();
    Headers.SetValue("Newsgroups", JoinAddresses(Newsgroups));
    Headers.SetValue("To", JoinAddresses(Too));
    Headers.SetValue("Cc", JoinAddresses(CCList));
    Headers.SetValue("X-Library", std::string("Wire ") + TWire::kVersion);
    Headers.SetValue("X-Mailer", xProgram);
    // The program name and everything set above are ours to check too.
    CheckHeaderValues();
}

void TWireMessage::Clear()
{
    MessageParts.Clear();
    Attachments.Clear();
    BCCList.clear();
    CCList.clear();
    Headers.Clear();
    Newsgroups.clear();
    Text.clear();
    HtmlText.clear();
    Too.clear();
    DefaultDomain.clear();
    MsgNo = 0;
}

void TWireMessage::CheckHeaderValues() const
{
    for (const auto& line : Headers.Lines()) {
        const auto eq = line.find('=');
        const std::string name = eq == std::string::npos ? line : line.substr(0, eq);
        RefuseLineBreak(line, "The \"" + Visible(name) + "\" header");
    }
    RefuseLineBreaks(Too, "A \"To\" address");
    RefuseLineBreaks(CCList, "A \"Cc\" address");
    RefuseLineBreaks(BCCList, "A \"Bcc\" address");
    RefuseLineBreaks(Newsgroups, "A \"Newsgroups\" entry");
    // These reach the header block and the part headers of the body.
    RefuseLineBreak(ContentType, "The content type");
    for (const auto& attachment : Attachments) {
        RefuseLineBreak(attachment.StoredName, "The attachment name \"" + Visible(attachment.StoredName) + "\"");
        RefuseLineBreak(attachment.ContentType, "The type of \"" + Visible(attachment.StoredName) + "\"");
    }
    RefuseControlInAddress<EWireException>(From(), "The sender's address");
    RefuseNonAsciiAddress<EWireException>(From(), Utf8Addresses);
    RefuseNonAsciiAddress<EWireException>(ReplyTo(), Utf8Addresses);
    for (const auto* list : {&Too, &CCList, &BCCList})
        for (const auto& entry : *list) {
            RefuseControlInAddress<EWireAddressRefused>(entry, "The address");
            RefuseNonAsciiAddress<EWireAddressRefused>(entry, Utf8Addresses);
        }
}

} // namespace og
