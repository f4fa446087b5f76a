#pragma once
// Logging in to the mail server: the secret (a credential every connection of
// a run shares) and the mechanisms that prove it to the server, one class
// each behind one interface. TWireSMTP runs the exchange (AUTH, the 334
// challenges, 235) and does the Base64; a mechanism deals in plain bytes.
//
// A new mechanism: a class in SmtpLogin.cpp and its row in its table, in the
// order of preference; the row says which kind of secret it proves.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace og {

class TSmtpCapabilities;

// What a secret is: a password (PLAIN, LOGIN) or an OAuth2 access token
// (OAUTHBEARER, XOAUTH2). Each login mechanism proves one kind.
enum class TSecretKind { Password, Token };

// The secret that proves who logs in: a password, or a token that expires.
// Asked from any connection's thread.
class TSmtpCredential {
public:
    virtual ~TSmtpCredential() = default;
    virtual TSecretKind Kind() const { return TSecretKind::Password; }
    virtual std::string Secret() = 0;
    // The server refused `refused`: the next Secret() asks for a fresh one.
    // False when there is nothing fresher to be had.
    virtual bool Renew(const std::string& refused)
    {
        (void)refused;
        return false;
    }
};

// A secret fetched when first needed and then kept for every connection
// that shares it; after a Renew the next Secret() fetches once more, once
// however many connections saw the same refusal.
class TFetchedCredential : public TSmtpCredential {
public:
    using Fetch = std::function<std::string()>;
    explicit TFetchedCredential(Fetch fetch, TSecretKind kind = TSecretKind::Password)
        : fetch_(std::move(fetch)),
          kind_(kind)
    {
    }
    TSecretKind Kind() const override { return kind_; }
    std::string Secret() override;
    bool Renew(const std::string& refused) override;

private:
    Fetch fetch_;
    TSecretKind kind_;
    std::mutex mutex_;
    std::optional<std::string> secret_;
};

// One login's side of the exchange.
class TLoginMechanism {
public:
    virtual ~TLoginMechanism() = default;
    // The name after AUTH, as servers offer it.
    virtual const char* Name() const = 0;
    // What goes with AUTH itself; nothing: AUTH goes alone and the server's
    // first challenge is answered instead.
    virtual std::optional<std::string> FirstResponse() = 0;
    // The answer to a 334 challenge (its text after "334 ", Base64 decoded);
    // nothing when this mechanism expects no further challenge, which ends
    // the login as refused.
    virtual std::optional<std::string> Answer(const std::string& challenge) = 0;
    // Whether it has said all it must: a 235 before that is out of step.
    virtual bool Done() const = 0;
    // Why the server refused the secret, in words, when it said so in a
    // challenge (the JSON status of a refused token); empty otherwise.
    virtual std::string Refusal() const { return {}; }
};

// Who logs in, and the server as the connection named it (OAUTHBEARER
// tells the server which one it meant).
struct TLoginTarget {
    std::string user;
    std::string host;
    int port = 0;
};

// The first mechanism of the table the server offers for the credential's
// kind of secret (OAUTHBEARER before XOAUTH2, PLAIN before LOGIN), or
// `preferred` (a provider's own first choice) where offered for it; null
// when it offers none of them.
std::unique_ptr<TLoginMechanism> ChooseLoginMechanism(const TSmtpCapabilities& offered, const TLoginTarget& target,
    TSmtpCredential& credential, const std::string& preferred = {});

// The mechanisms of the table for one kind of secret, for a message that
// names them: "AUTH PLAIN or LOGIN".
std::string KnownLoginMechanisms(TSecretKind kind);
// Whether the server offers a mechanism of the table for that kind.
bool OffersLoginFor(const TSmtpCapabilities& offered, TSecretKind kind);

} // namespace og
