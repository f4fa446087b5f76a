#pragma once
// One mail message in memory, rendered line by line onto a sink (a server
// connection, a message file, a list): its header block, then plain text or a
// MIME multipart body: the text with an HTML alternative, Base64 attachments.

#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "mail/LineSink.h"

namespace og {

// Header lines in Name=Value form. A name matches the text before a line's
// first "=", ignoring letter case; a non-empty value replaces the line in place
// or appends it, an empty value deletes it. Lines thus keep the order in which
// their names first got a value.
class THeaderStore {
public:
    std::string Value(const std::string& name) const;
    void SetValue(const std::string& name, const std::string& value);
    // SetValue, but a line that is new goes right after the line named
    // `after` (at the end when there is none).
    void SetValueAfter(const std::string& after, const std::string& name, const std::string& value);
    // Index of the first line with that name, or -1.
    int IndexOfName(const std::string& name) const;

    const std::vector<std::string>& Lines() const { return lines_; }
    // Assigning copies the caller's lines.
    void SetLines(const std::vector<std::string>& lines) { lines_ = lines; }
    void Add(const std::string& line) { lines_.push_back(line); }
    void Clear() { lines_.clear(); }
    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }

private:
    std::vector<std::string> lines_;
};

class TAttachment {
public:
    std::vector<std::string> HeaderLines; // filled by a receiver only
    std::string StoredName;               // name written into the message
    std::string FileName;                 // local file whose bytes are sent
    std::string ContentType;              // as given; empty sends application/octet-stream
    // When set, these Base64 lines (as TWireEncoder::EncodeText makes them,
    // each ended by a line feed, in one string) are sent instead of the
    // file's: a file shared by many messages is encoded once, and a text
    // made for one message needs no file.
    std::shared_ptr<const std::string> Encoded;
};

class TAttachments {
public:
    // Adds the file at the end; StoredName is the text after the last "/",
    // "\" or drive colon. The file is not opened here.
    TAttachment& AddAttachment(const std::string& path);
    void Clear() { items_.clear(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    TAttachment& at(std::size_t i) { return items_.at(i); }
    const TAttachment& at(std::size_t i) const { return items_.at(i); }
    TAttachment& operator[](std::size_t i) { return items_[i]; }
    const TAttachment& operator[](std::size_t i) const { return items_[i]; }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::deque<TAttachment> items_; // deque: references survive later additions
};

// Text parts of a received message; kept for the message's shape, filled by
// no part of this program.
class TMessagePart {
public:
    std::vector<std::string> Lines;
    std::string ContentTransfer;
    std::string ContentType;
};

class TMessageParts {
public:
    TMessagePart& Add() { return items_.emplace_back(); }
    void Clear() { items_.clear(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    TMessagePart& at(std::size_t i) { return items_.at(i); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }

private:
    std::deque<TMessagePart> items_;
};

class TWireMessage {
public:
    static constexpr const char* Boundary = "=_NextPart_2rfksadvnqw3nerasdf";
    // The boundary of the text and its HTML alternative; no prefix of the
    // other, so no reader takes one for the other.
    static constexpr const char* AltBoundary = "=_AltPart_2rfksadvnqw3nerasdf";
    // Names behind the header properties, by index.
    static constexpr const char* HeaderNames[7] = {
        "From", "Organization", "References", "Reply-To", "Subject", "To", "Message-ID"};

    TWireMessage() = default;
    virtual ~TWireMessage() = default;

    bool ExtractAttachments = true;
    bool UseNowForDate = true;
    // A new "Message-ID" for every message prepared, placed after "Date".
    bool UseNewMessageID = true;
    int32_t MsgNo = 0;
    std::string ContentType = "text/plain";
    std::string DefaultDomain;
    TAttachments Attachments;
    TMessageParts MessageParts;
    bool NoDecode = false;
    std::vector<std::string> Too;
    std::vector<std::string> CCList;
    std::vector<std::string> BCCList;
    THeaderStore Headers;
    std::vector<std::string> Text;
    // The same message as HTML (UTF-8, lines cut at line breaks). Not empty:
    // Text and this go out as multipart/alternative, inside multipart/mixed
    // when there are attachments; empty: the message is as it always was.
    std::string HtmlText;
    std::vector<std::string> Newsgroups;

    std::string From() const { return Headers.Value(HeaderNames[0]); }
    void SetFrom(const std::string& v) { Headers.SetValue(HeaderNames[0], v); }
    std::string Organization() const { return Headers.Value(HeaderNames[1]); }
    void SetOrganization(const std::string& v) { Headers.SetValue(HeaderNames[1], v); }
    std::string References() const { return Headers.Value(HeaderNames[2]); }
    void SetReferences(const std::string& v) { Headers.SetValue(HeaderNames[2], v); }
    std::string ReplyTo() const { return Headers.Value(HeaderNames[3]); }
    void SetReplyTo(const std::string& v) { Headers.SetValue(HeaderNames[3], v); }
    std::string Subject() const { return Headers.Value(HeaderNames[4]); }
    void SetSubject(const std::string& v) { Headers.SetValue(HeaderNames[4], v); }
    std::string MsgID() const { return Headers.Value(HeaderNames[6]); }
    void SetMsgID(const std::string& v) { Headers.SetValue(HeaderNames[6], v); }

    // Writes the "Date" header for the local time of `when`.
    void SetDate(std::time_t when);

    // Refreshes "Date" (when UseNowForDate), "Message-ID" (when
    // UseNewMessageID), "MIME-Version", "Content-Type" and, for text that is
    // not plain 7-bit, "Content-Transfer-Encoding", just before the header
    // block is written.
    void PrepareHeaders();

    // Everything a message needs just before it is written: PrepareHeaders,
    // then the recipients' and the program's headers (no blind copies), then
    // CheckHeaderValues. xProgram is the "X-Mailer" value (empty: none).
    void PrepareToSend(const std::string& xProgram);

    // The header block ("Name: Value" lines, then an empty line), the body,
    // or both: the whole message as a file (.eml) holds it.
    void WriteHeaders(TLineSink& sink) const;
    void WriteBody(TLineSink& sink) const;
    void WriteTo(TLineSink& sink) const;

    // Empties every list and collection, clears DefaultDomain, MsgNo = 0.
    virtual void Clear();

    // A header value or recipient holding CR or LF would end its line early
    // and smuggle in further headers or commands; refuse the whole message
    // with an EWireException naming the offender instead. An address with
    // characters other than ASCII is refused the same way unless
    // Utf8Addresses (the server offers SMTPUTF8); so is a sender or
    // recipient address with any control character (NUL included). A
    // recipient's address is refused with EWireAddressRefused: the other
    // messages of a run may still go.
    void CheckHeaderValues() const;
    // Set by the transport when the server takes addresses in UTF-8.
    bool Utf8Addresses = false;

private:
    // The text as it goes out: its lines, quoted-printable when it holds
    // characters other than ASCII or a line longer than a server takes.
    struct TTextBody {
        std::vector<std::string> Lines;
        bool Quoted = false;
        bool NonAscii = false;
    };
    static TTextBody EncodedLines(std::vector<std::string> lines);
    TTextBody EncodedText() const;
    TTextBody EncodedHtml() const;
    std::string TextContentType(const TTextBody& text) const;
    // base, or a numbered variant of it when a part holds it.
    std::string ChooseBoundary(const char* base, const TTextBody& text, const TTextBody& html) const;
    // The text part, or the text and its HTML alternative, with their part
    // headers (the header of a lone text goes into the message's block).
    void WriteTextParts(const TTextBody& text, const TTextBody& html, TLineSink& sink) const;
    std::string HeaderText(const std::string& name, const std::string& value) const;
    std::string MailboxesText(const std::string& name, const std::string& value) const;
};

// Writes text lines onto a sink; an entry that itself holds line breaks
// goes out as several lines.
void WriteTextLines(const std::vector<std::string>& lines, TLineSink& sink);

} // namespace og
