// The SMTP client against a server whose every byte comes from the fuzzer:
// greeting, EHLO capabilities, the login exchange and every reply of a send.
// Anything but an error of the transport's own family is a defect.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzWinsock.h"
#include "mail/WireMessage.h"
#include "net/WireExceptions.h"
#include "smtp/SMTPWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static og::fuzz::FuzzWinsock binding;
    if (size == 0)
        return 0;
    // The first byte picks the login (the older LOGIN, or a token at
    // connect, whose refusal challenge carries JSON); the rest is what the
    // server says.
    const bool login = data[0] & 1;
    const bool token = data[0] & 2;
    binding.Reset(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

    og::TWireMessage msg;
    msg.UseNowForDate = false;
    msg.SetFrom("Shop <shop@example.com>");
    msg.SetSubject("Your download");
    msg.Text = {"Hello"};
    msg.Too = {"cust@example.org"};
    og::TWireSMTP smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = 25;
    smtp.Timeout = 1;
    if (login) {
        smtp.AuthenticationType = og::TWireSMTP::TAuthenticationType::atLogin;
        smtp.UserID = "user";
        smtp.Password = "secret";
    } else if (token) {
        smtp.AuthenticationType = og::TWireSMTP::TAuthenticationType::atAny;
        smtp.Security = og::TWireSMTP::TSecurity::None;
        smtp.AllowPlainPassword = true;
        smtp.UserID = "user";
        smtp.Credential =
            std::make_shared<og::TFetchedCredential>([] { return std::string("token"); }, og::TSecretKind::Token);
    }
    try {
        smtp.Send(msg);
    } catch (const og::Exception&) {
    }
    // A send ends with the connection closed, whatever happened.
    OG_FUZZ_CHECK(!smtp.Connected());
    return 0;
}
