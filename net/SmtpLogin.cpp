#include "net/SmtpLogin.h"

#include "net/SmtpCapabilities.h"

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
    TPlainMechanism(const std::string& user, TSmtpCredential& credential)
        : user_(user),
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
    TLoginNamePassword(const std::string& user, TSmtpCredential& credential)
        : user_(user),
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

template <typename Mechanism>
std::unique_ptr<TLoginMechanism> Make(const std::string& user, TSmtpCredential& credential)
{
    return std::make_unique<Mechanism>(user, credential);
}

const struct {
    const char* name;
    std::unique_ptr<TLoginMechanism> (*make)(const std::string&, TSmtpCredential&);
} kMechanisms[] = {
    {"PLAIN", &Make<TPlainMechanism>},
    {"LOGIN", &Make<TLoginNamePassword>},
};

} // namespace

std::unique_ptr<TLoginMechanism> ChooseLoginMechanism(
    const TSmtpCapabilities& offered, const std::string& user, TSmtpCredential& credential)
{
    for (const auto& mechanism : kMechanisms)
        if (offered.HasAuthMechanism(mechanism.name))
            return mechanism.make(user, credential);
    return nullptr;
}

std::string KnownLoginMechanisms()
{
    std::string names;
    const std::size_t count = std::size(kMechanisms);
    for (std::size_t i = 0; i < count; ++i)
        names += (i == 0 ? "AUTH " : i + 1 == count ? " or " : ", ") + std::string(kMechanisms[i].name);
    return names;
}

} // namespace og
