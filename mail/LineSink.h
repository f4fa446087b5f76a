#pragma once
// Where a rendered message goes, one line at a time (no line end): a server
// connection, a file (.eml) or a list in a test. Attachments report their
// progress through the same sink, so a connection can show it.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace og {

class TLineSink {
public:
    virtual ~TLineSink() = default;
    virtual void WriteLine(const std::string& line) = 0;
    // Progress of one attachment: its size, the bytes done so far, its end
    // (also when an error ends it).
    virtual void BeginWork(int64_t /*size*/) { }
    virtual void DoWork(int64_t /*done*/) { }
    virtual void EndWork() { }
};

// Keeps the lines, for tests and previews.
class TLineList : public TLineSink {
public:
    std::vector<std::string> Lines;
    void WriteLine(const std::string& line) override { Lines.push_back(line); }
};

// Writes each line with CR LF, the way a message file (.eml) stores it. A
// stream that fails raises og::Exception, so a full disk is never silent.
class TStreamLineSink : public TLineSink {
public:
    explicit TStreamLineSink(std::ostream& out)
        : out_(out)
    {
    }
    void WriteLine(const std::string& line) override;

private:
    std::ostream& out_;
};

} // namespace og
