#include "smtp/SmtpLogin.h"

#include "smtp/SmtpCapabilities.h"

#include <cctype>
#include <vector>

namespace og {

std::string TFetchedCredential::Secret()
{
    std::lock_guard lock(mutex_);
    if (!secret_)
        secret_ = fetch_();
    return *secret_;
}

bool TFetchedCredential::Renew(const std::string& refused)
{
    std::lock_guard lock(mutex_);
    // Another connection may have renewed it already.
    if (secret_ && *secret_ == refused)
        secret_.reset();
    return true;
}

namespace {

// RFC 4616: the whole login in the first response.
class TPlainMechanism : public TLoginMechanism {
public:
    TPlainMechanism(const TLoginTarget& target, TSmtpCredential& credential)
        : user_(target.user),
          credential_(credential)
    {
    }
    const char* Name() const override { return "PLAIN"; }
    std::optional<std::string> FirstResponse() override
    {
        return std::string(1, '\0') + user_ + std::string(1, '\0') + credential_.Secret();
    }
    std::optional<std::string> Answer(const std::string&) override { return std::nullopt; }
    bool Done() const override { return true; }

private:
    std::string user_;
    TSmtpCredential& credential_;
};

// The older login: the user name, then the password, each on its prompt.
class TLoginNamePassword : public TLoginMechanism {
public:
    TLoginNamePassword(const TLoginTarget& target, TSmtpCredential& credential)
        : user_(target.user),
          credential_(credential)
    {
    }
    const char* Name() const override { return "LOGIN"; }
    std::optional<std::string> FirstResponse() override { return std::nullopt; }
    std::optional<std::string> Answer(const std::string&) override
    {
        switch (answered_++) {
        case 0:
            return user_;
        case 1:
            return credential_.Secret();
        default:
            return std::nullopt;
        }
    }
    bool Done() const override { return answered_ >= 2; }

private:
    std::string user_;
    TSmtpCredential& credential_;
    int answered_ = 0;
};

// The status of a refused token from the JSON of the server's challenge
// ({"status":"401",...} for XOAUTH2, {"status":"invalid_token",...} for
// OAUTHBEARER), kept to letters, digits and "_.-", 40 at most.
std::string JsonStatus(const std::string& json)
{
    const std::string key = "\"status\"";
    const char* blanks = " \t\r\n";
    std::size_t at = json.find(key);
    if (at != std::string::npos)
        at = json.find_first_not_of(blanks, at + key.size());
    if (at == std::string::npos || json[at] != ':')
        return {};
    at = json.find_first_not_of(blanks, at + 1);
    if (at != std::string::npos && json[at] == '"')
        ++at;
    std::string status;
    for (; at < json.size() && status.size() < 40; ++at) {
        const unsigned char c = static_cast<unsigned char>(json[at]);
        if (!std::isalnum(c) && c != '_' && c != '.' && c != '-')
            break;
        status += static_cast<char>(c);
    }
    return status;
}

std::string RefusalWords(const std::string& challenge)
{
    static const struct {
        const char* code;  // XOAUTH2's HTTP-like status
        const char* error; // OAUTHBEARER's (RFC 6750)
        const char* meaning;
    } kMeanings[] = {
        {"401", "invalid_token", "it has expired or was revoked"},
        {"400", "invalid_request", "the server did not understand the login"},
        {"403", "insufficient_scope", "it does not allow sending mail (check the scope)"},
    };
    const std::string status = JsonStatus(challenge);
    if (status.empty())
        return "the token was refused";
    for (const auto& m : kMeanings)
        if (status == m.code || status == m.error)
            return "the token was refused with status " + status + ": " + m.meaning;
    return "the token was refused with status " + status;
}

// Between the parts of a token login's response (^A).
const std::string kSeparator(1, '\x01');

// Both token logins send everything with AUTH. A server that refuses the
// token says why in one challenge (Base64 JSON), which the client answers
// as its protocol asks so that the server can end the exchange with its
// refusal.
class TTokenMechanism : public TLoginMechanism {
public:
    TTokenMechanism(const TLoginTarget& target, TSmtpCredential& credential)
        : target_(target),
          credential_(credential)
    {
    }
    std::optional<std::string> Answer(const std::string& challenge) override
    {
        if (!refusal_.empty())
            return std::nullopt;
        refusal_ = RefusalWords(challenge);
        return AnswerToRefusal();
    }
    // A 235 after the refusal is out of step.
    bool Done() const override { return refusal_.empty(); }
    std::string Refusal() const override { return refusal_; }

protected:
    virtual std::string AnswerToRefusal() const = 0;
    TLoginTarget target_;
    TSmtpCredential& credential_;

private:
    std::string refusal_;
};

// Google's and Microsoft's: the user and the token; an empty line after a
// refusal.
class TXOAuth2Mechanism : public TTokenMechanism {
public:
    using TTokenMechanism::TTokenMechanism;
    const char* Name() const override { return "XOAUTH2"; }
    std::optional<std::string> FirstResponse() override
    {
        return "user=" + target_.user + kSeparator + "auth=Bearer " + credential_.Secret() + kSeparator + kSeparator;
    }

private:
    std::string AnswerToRefusal() const override { return {}; }
};

// RFC 7628: a GS2 header naming the user (RFC 5801 escapes "," and "="),
// the host and port the client meant, and the token; after a refusal a
// lone ^A (its section 3.2.3).
class TOAuthBearerMechanism : public TTokenMechanism {
public:
    using TTokenMechanism::TTokenMechanism;
    const char* Name() const override { return "OAUTHBEARER"; }
    std::optional<std::string> FirstResponse() override
    {
        std::string user;
        for (const char c : target_.user)
            user += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
        std::string response = "n,a=" + user + "," + kSeparator;
        if (!target_.host.empty())
            response += "host=" + target_.host + kSeparator;
        if (target_.port > 0)
            response += "port=" + std::to_string(target_.port) + kSeparator;
        return response + "auth=Bearer " + credential_.Secret() + kSeparator + kSeparator;
    }

private:
    std::string AnswerToRefusal() const override { return kSeparator; }
};

template <typename Mechanism>
std::unique_ptr<TLoginMechanism> Make(const TLoginTarget& target, TSmtpCredential& credential)
{
    return std::make_unique<Mechanism>(target, credential);
}

const struct {
    const char* name;
    TSecretKind proves;
    std::unique_ptr<TLoginMechanism> (*make)(const TLoginTarget&, TSmtpCredential&);
} kMechanisms[] = {
    {"OAUTHBEARER", TSecretKind::Token, &Make<TOAuthBearerMechanism>},
    {"XOAUTH2", TSecretKind::Token, &Make<TXOAuth2Mechanism>},
    {"PLAIN", TSecretKind::Password, &Make<TPlainMechanism>},
    {"LOGIN", TSecretKind::Password, &Make<TLoginNamePassword>},
};

} // namespace

std::unique_ptr<TLoginMechanism> ChooseLoginMechanism(const TSmtpCapabilities& offered, const TLoginTarget& target,
    TSmtpCredential& credential, const std::string& preferred)
{
    for (const auto& mechanism : kMechanisms)
        if (mechanism.name == preferred && mechanism.proves == credential.Kind() &&
            offered.HasAuthMechanism(mechanism.name))
            return mechanism.make(target, credential);
    for (const auto& mechanism : kMechanisms)
        if (mechanism.proves == credential.Kind() && offered.HasAuthMechanism(mechanism.name))
            return mechanism.make(target, credential);
    return nullptr;
}

bool OffersLoginFor(const TSmtpCapabilities& offered, TSecretKind kind)
{
    for (const auto& mechanism : kMechanisms)
        if (mechanism.proves == kind && offered.HasAuthMechanism(mechanism.name))
            return true;
    return false;
}

std::string KnownLoginMechanisms(TSecretKind kind)
{
    std::vector<std::string> names;
    for (const auto& mechanism : kMechanisms)
        if (mechanism.proves == kind)
            names.emplace_back(mechanism.name);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "AUTH " : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

} // namespace og
