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

// An entry that holds line breaks is several lines.
void WriteTextLines(const std::vector<std::string>& lines, TLineSink& sink)
{
    for (const auto& entry : lines) {
        if (!HoldsLineBreak(entry)) {
            sink.WriteLine(entry);
            continue;
        }
        for (const auto& piece : SplitLineBreaks(entry))
            sink.WriteLine(piece);
    }
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

void TWireMessage::WriteHeaders(TLineSink& sink) const
{
    for (const auto& line : Headers.Lines()) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            sink.WriteLine(line);
        else
            sink.WriteLine(line.substr(0, eq) + ": " + line.substr(eq + 1));
    }
    sink.WriteLine({});
}

void TWireMessage::WriteBody(TLineSink& sink) const
{
    if (Attachments.empty()) {
        WriteTextLines(Text, sink);
        return;
    }
    const std::string separator = std::string("--") + Boundary;

    sink.WriteLine("This is a multi-part message in MIME format.");
    sink.WriteLine({});
    sink.WriteLine(separator);
    sink.WriteLine("Content-Type: " + ContentType);
    sink.WriteLine("Content-Transfer-Encoding: 7bit");
    sink.WriteLine({});
    WriteTextLines(Text, sink);

    TWireEncoder encoder;
    for (const auto& attachment : Attachments) {
        sink.WriteLine({});
        sink.WriteLine(separator);
        sink.WriteLine("Content-Type: application/octet-stream;");
        sink.WriteLine("        name=\"" + attachment.StoredName + "\"");
        sink.WriteLine("Content-Transfer-Encoding: base64");
        sink.WriteLine("Content-Disposition: attachment;");
        sink.WriteLine("        filename=\"" + attachment.StoredName + "\"");
        sink.WriteLine({});
        encoder.EncodeFile(&sink, attachment.FileName);
    }
    sink.WriteLine(separator + "--");
}

void TWireMessage::WriteTo(TLineSink& sink) const
{
    WriteHeaders(sink);
    WriteBody(sink);
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

void TWireLineSink::WriteLine(const std::string& line)
{
    if (!line.empty() && line.front() == '.')
        wire_.WriteLn("." + line);
    else
        wire_.WriteLn(line);
}

void TWireMessageClient::WriteMessageText(const std::vector<std::string>& lines)
{
    TWireLineSink sink(*this);
    WriteTextLines(lines, sink);
}

void TWireMessageClient::Send(TWireMessage& message)
{
    TWireLineSink sink(*this);
    message.WriteBody(sink);
}

void TWireMessageClient::WriteMessage(const TWireMessage& message)
{
    TWireLineSink sink(*this);
    message.WriteTo(sink);
}

} // namespace og
