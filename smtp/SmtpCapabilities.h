#pragma once
// What a server says it can do, read from its EHLO reply: one entry per
// extension keyword (upper case, each once) with the parameters that follow
// it. Keywords compare without regard to letter case, as RFC 5321 requires.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace og {

class TSmtpCapabilities {
public:
    // The lines of a 250 EHLO reply as the socket client keeps them ("250-..."
    // and the last "250 ..."); the first line is the server's greeting to us
    // and names no extension. "AUTH=LOGIN", the form some old servers send
    // beside "AUTH LOGIN", counts as the AUTH keyword.
    static TSmtpCapabilities Parse(const std::vector<std::string>& replyLines);

    bool Has(std::string_view keyword) const;
    // The keyword's parameters in the order sent, each once; empty when the
    // keyword is absent or has none.
    std::vector<std::string> Parameters(std::string_view keyword) const;
    // The AUTH mechanisms, upper case, each once.
    std::vector<std::string> AuthMechanisms() const;
    bool HasAuthMechanism(std::string_view mechanism) const;

    bool empty() const { return entries_.empty(); }
    void Clear() { entries_.clear(); }

private:
    std::vector<std::pair<std::string, std::vector<std::string>>> entries_;
    const std::vector<std::string>* Find(std::string_view keyword) const;
};

} // namespace og
