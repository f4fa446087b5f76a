#include "mail/WireMessage.h"

#include "mail/EncodeWire.h"
#include "mail/MailText.h"
#include "mail/TimeZone.h"
#include "net/WireExceptions.h"

namespace og {

namespace {

bool SameTextAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

// The offending text with its breaks spelled out, fit for an error box.
std::string Visible(const std::string& text)
{
    std::string shown;
    for (char c : text) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
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

} // namespace

// ---- THeaderStore ----------------------------------------------------------

int THeaderStore::IndexOfName(const std::string& name) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto eq = lines_[i].find('=');
        if (eq != std::string::npos && SameTextAscii(std::string_view(lines_[i]).substr(0, eq), name))
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
    if (!Attachments.empty()) {
        Headers.SetValue("MIME-Version", "1.0");
        Headers.SetValue("Content-Type", std::string("multipart/mixed; boundary=\"") + Boundary + "\"");
    } else {
        Headers.SetValue("MIME-Version", "");
        Headers.SetValue("Content-Type", ContentType);
    }
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
    // These two reach the header block and the part headers of the body.
    RefuseLineBreak(ContentType, "The content type");
    for (const auto& attachment : Attachments)
        RefuseLineBreak(attachment.StoredName, "The attachment name \"" + Visible(attachment.StoredName) + "\"");
}

// ---- TWireMessageClient ----------------------------------------------------

void TWireMessageClient::WriteMessageText(const std::vector<std::string>& lines)
{
    auto writeOne = [this](const std::string& line) {
        if (!line.empty() && line.front() == '.')
            WriteLn("." + line);
        else
            WriteLn(line);
    };
    for (const auto& entry : lines) {
        if (!HoldsLineBreak(entry)) {
            writeOne(entry);
            continue;
        }
        for (const auto& piece : SplitLineBreaks(entry))
            writeOne(piece);
    }
}

void TWireMessageClient::Send(TWireMessage& message)
{
    if (message.Attachments.empty()) {
        WriteMessageText(message.Text);
        return;
    }
    const std::string separator = std::string("--") + TWireMessage::Boundary;

    WriteLn("This is a multi-part message in MIME format.");
    WriteLn();
    WriteLn(separator);
    WriteLn("Content-Type: " + message.ContentType);
    WriteLn("Content-Transfer-Encoding: 7bit");
    WriteLn();
    WriteMessageText(message.Text);

    TWireEncoder encoder;
    for (const auto& attachment : message.Attachments) {
        WriteLn();
        WriteLn(separator);
        WriteLn("Content-Type: application/octet-stream;");
        WriteLn("        name=\"" + attachment.StoredName + "\"");
        WriteLn("Content-Transfer-Encoding: base64");
        WriteLn("Content-Disposition: attachment;");
        WriteLn("        filename=\"" + attachment.StoredName + "\"");
        WriteLn();
        encoder.EncodeFile(this, attachment.FileName);
    }
    WriteLn(separator + "--");
}

} // namespace og
