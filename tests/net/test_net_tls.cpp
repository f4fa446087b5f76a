// TLS, login and the security setting against Debian's aiosmtpd on 127.0.0.1,
// with certificates made here by the OpenSSL API; and scripted servers that
// drop STARTTLS from their reply while a password is set, put plain text
// where TLS begins or TLS where a greeting belongs.

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "smtp/SMTPWire.h"
#include "tests/support/CountingWinsock.h"
#include "tests/support/ScriptedSmtpServer.h"

using namespace og;
using namespace og::test;
using Security = TWireSMTP::TSecurity;

namespace {

// Per process: ctest runs the cases of this file side by side.
const std::string kDir = ::testing::TempDir() + "/og_tls_test_" + std::to_string(::getpid()) + "/";

// A certificate for `name` (DNS, and IP 127.0.0.1), signed by `issuer` or by
// itself, valid from now + `fromHours` to now + `toHours`. Writes NAME.pem
// and NAME.key; returns the key and certificate for signing others.
struct Cert {
    EVP_PKEY* key = nullptr;
    X509* x509 = nullptr;
    std::string pem, keyFile;
};

Cert MakeCert(const std::string& file, const std::string& name, const Cert* issuer, long fromHours, long toHours)
{
    Cert c;
    c.key = EVP_EC_gen("P-256");
    c.x509 = X509_new();
    X509_set_version(c.x509, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c.x509), static_cast<long>(std::hash<std::string> {}(file)&0xffffff));
    X509_gmtime_adj(X509_getm_notBefore(c.x509), fromHours * 3600);
    X509_gmtime_adj(X509_getm_notAfter(c.x509), toHours * 3600);
    X509_set_pubkey(c.x509, c.key);
    X509_NAME* subject = X509_get_subject_name(c.x509);
    X509_NAME_add_entry_by_txt(
        subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(c.x509, issuer ? X509_get_subject_name(issuer->x509) : subject);
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer->x509 : c.x509, c.x509, nullptr, nullptr, 0);
    const std::string san = "DNS:" + name + (name == "localhost" ? ",IP:127.0.0.1" : "");
    for (auto [nid, value] : {std::pair {NID_subject_alt_name, san.c_str()},
             std::pair {NID_basic_constraints, issuer ? "CA:FALSE" : "critical,CA:TRUE"}})
        if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value)) {
            X509_add_ext(c.x509, ext, -1);
            X509_EXTENSION_free(ext);
        }
    X509_sign(c.x509, issuer ? issuer->key : c.key, EVP_sha256());
    c.pem = kDir + file + ".pem";
    c.keyFile = kDir + file + ".key";
    FILE* out = std::fopen(c.pem.c_str(), "w");
    PEM_write_X509(out, c.x509);
    std::fclose(out);
    out = std::fopen(c.keyFile.c_str(), "w");
    PEM_write_PrivateKey(out, c.key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
    return c;
}

std::string Fingerprint(const Cert& c)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(c.x509, EVP_sha256(), digest, &n);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

TTlsTrust Trust(const std::string& caFile = "", const std::string& fingerprint = "", bool noVerify = false)
{
    return TTlsTrust {caFile, fingerprint, noVerify};
}

// tls_sink.py for one case; stopped (stdin closed, then killed) when it goes.
class TlsSink {
public:
    explicit TlsSink(const std::vector<std::string>& args)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::vector<std::string> all = {
                "/usr/bin/python3", std::string(OG_SOURCE_DIR) + "/tests/net/tls_sink.py", "--max-seconds", "30"};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& a : all)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        const std::string first = ReadAll(true);
        port_ = std::atoi(first.c_str());
    }
    ~TlsSink()
    {
        Stop();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0)
            ::close(stdout_);
    }
    int Port() const { return port_; }
    // Stops the server; what it printed after the port.
    std::string Stop()
    {
        if (stdin_ >= 0) {
            ::close(stdin_);
            stdin_ = -1;
            output_ = ReadAll(false);
        }
        return output_;
    }

private:
    std::string ReadAll(bool oneLine)
    {
        std::string text;
        char c;
        pollfd p {stdout_, POLLIN, 0};
        while (::poll(&p, 1, 15000) > 0 && ::read(stdout_, &c, 1) == 1) {
            if (oneLine && c == '\n')
                break;
            text += c;
        }
        return text;
    }
    pid_t pid_ = -1;
    int stdin_ = -1, stdout_ = -1, port_ = 0;
    std::string output_;
};

class TlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ::mkdir(kDir.c_str(), 0700);
        ca = MakeCert("ca", "Ordergate Test CA", nullptr, -1, 48);
        good = MakeCert("good", "localhost", &ca, -1, 48);
        otherName = MakeCert("other", "other.example", &ca, -1, 48);
        expired = MakeCert("expired", "localhost", &ca, -48, -24);
        selfSigned = MakeCert("self", "localhost", nullptr, -1, 48);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(kDir); }
    static inline Cert ca, good, otherName, expired, selfSigned;

    TWireMessage msg;
    TWireSMTP smtp;
    void SetUp() override
    {
        msg.SetFrom("shop@example.com");
        msg.SetSubject("TLS");
        msg.Too = {"cust@example.org"};
        msg.Text = {"Hello"};
        smtp.Host = "localhost";
        smtp.Timeout = 20;
    }
};

} // namespace

TEST_F(TlsTest, SecurityTrustAndLoginAgainstARealServer)
{
    struct Case {
        const char* name;
        std::vector<std::string> server; // tls_sink.py arguments, certificate added
        const Cert* cert;
        Security security;
        TTlsTrust trust;
        bool login;
        const char* password;
        const char* error; // nullptr: delivered
        const char* note;  // in TlsNote when delivered
    };
    const std::string caFile = ca.pem, selfFile = selfSigned.pem;
    // A certificate for another name says what it is for and its fingerprint.
    std::string shown;
    for (const char c : Fingerprint(otherName))
        shown += (shown.size() % 3 == 2 ? ":" : "") + std::string(1, char(std::toupper(c)));
    const std::string mismatch =
        "The certificate of localhost is not trusted: host name mismatch (it is for other.example; SHA-256 " + shown +
        ").";
    const std::vector<Case> cases = {
        {"STARTTLS required, PLAIN", {"--mode", "starttls", "--auth"}, &good, Security::StartTls, Trust(caFile), true,
            "secret", nullptr, "is trusted"},
        {"Automatic takes STARTTLS, LOGIN", {"--mode", "starttls", "--auth", "--exclude", "PLAIN"}, &good,
            Security::Automatic, Trust(caFile), true, "secret", nullptr, "is trusted"},
        {"implicit TLS", {"--mode", "implicit", "--auth"}, &good, Security::Tls, Trust(caFile), true, "secret", nullptr,
            "is trusted"},
        {"STARTTLS required, not offered", {"--mode", "plain"}, nullptr, Security::StartTls, Trust(caFile), false, "",
            "localhost does not offer STARTTLS, which the security setting requires; nothing was sent.", nullptr},
        {"refused login", {"--mode", "starttls", "--auth"}, &good, Security::StartTls, Trust(caFile), true, "wrong",
            "535 5.7.8 Authentication credentials invalid", nullptr},
        {"another name", {"--mode", "starttls"}, &otherName, Security::StartTls, Trust(caFile), false, "",
            mismatch.c_str(), nullptr},
        {"expired", {"--mode", "starttls"}, &expired, Security::StartTls, Trust(caFile), false, "",
            "The certificate of localhost is not trusted: certificate has expired.", nullptr},
        {"self-signed, untrusted", {"--mode", "implicit"}, &selfSigned, Security::Tls, Trust(), false, "",
            "The certificate of localhost is not trusted: self-signed certificate.", nullptr},
        {"self-signed by fingerprint", {"--mode", "starttls", "--auth"}, &selfSigned, Security::StartTls,
            Trust("", Fingerprint(selfSigned)), true, "secret", nullptr, "is trusted"},
        {"self-signed by CA file", {"--mode", "starttls"}, &selfSigned, Security::StartTls, Trust(selfFile), false, "",
            nullptr, "is trusted"},
        {"do not check", {"--mode", "starttls", "--auth"}, &expired, Security::StartTls, Trust("", "", true), true,
            "secret", nullptr, "is NOT checked"},
        {"Automatic without login upgrades anyway", {"--mode", "starttls"}, &selfSigned, Security::Automatic, Trust(),
            false, "", nullptr, "could not be checked (self-signed certificate)"},
        {"Automatic with login needs a trusted one", {"--mode", "starttls", "--auth"}, &selfSigned, Security::Automatic,
            Trust(), true, "secret", "The certificate of localhost is not trusted: self-signed certificate.", nullptr},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.server;
        if (c.cert)
            args.insert(args.end(), {"--cert", c.cert->pem, "--key", c.cert->keyFile});
        TlsSink sink(args);
        ASSERT_GT(sink.Port(), 0) << c.name;
        smtp.Port = sink.Port();
        smtp.Security = c.security;
        smtp.Trust = c.trust;
        smtp.AuthenticationType =
            c.login ? TWireSMTP::TAuthenticationType::atAny : TWireSMTP::TAuthenticationType::atNone;
        smtp.UserID = c.login ? "user" : "";
        smtp.Password = c.password;
        smtp.LogFile = kDir + "traffic.log";
        std::string error;
        try {
            smtp.Send(msg);
        } catch (const EWireException& e) {
            error = e.Message();
        }
        const std::string delivered = sink.Stop();
        if (c.error) {
            EXPECT_EQ(error, c.error) << c.name;
            EXPECT_EQ(delivered.find("MESSAGE"), std::string::npos) << c.name;
        } else {
            EXPECT_EQ(error, "") << c.name;
            EXPECT_NE(delivered.find("MESSAGE shop@example.com"), std::string::npos) << c.name;
            EXPECT_NE(smtp.TlsNote().find(c.note), std::string::npos) << c.name << ": " << smtp.TlsNote();
        }
        std::ifstream logFile(smtp.LogFile);
        std::stringstream log;
        log << logFile.rdbuf();
        for (const char* secret : {"secret", "c2VjcmV0", "AHVzZXIAc2VjcmV0"})
            EXPECT_EQ(log.str().find(secret), std::string::npos) << c.name << ": the log shows " << secret;
    }
}

TEST_F(TlsTest, ConnectionsOfOneRunResumeTheirSession)
{
    TlsSink sink({"--mode", "starttls", "--cert", good.pem, "--key", good.keyFile});
    smtp.Port = sink.Port();
    smtp.Security = Security::StartTls;
    smtp.Trust.CAFile = ca.pem;
    smtp.Send(msg);
    EXPECT_EQ(smtp.TlsNote().find("resumed"), std::string::npos) << smtp.TlsNote();
    TWireSMTP next; // another instance sharing the run's context
    next.Host = "localhost";
    next.Port = sink.Port();
    next.Security = Security::StartTls;
    next.Trust = smtp.Trust;
    next.TlsContext = smtp.TlsContext;
    next.Send(msg);
    EXPECT_NE(next.TlsNote().find("(resumed)"), std::string::npos) << next.TlsNote();

    // Parallel connections of one run (one instance per thread) all resume.
    std::atomic<int> full {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            TWireSMTP mine;
            mine.Host = "localhost";
            mine.Port = sink.Port();
            mine.Security = Security::StartTls;
            mine.Trust = smtp.Trust;
            mine.TlsContext = smtp.TlsContext;
            TWireMessage own = msg;
            for (int i = 0; i < 10; ++i) {
                try {
                    mine.Send(own);
                    full += mine.TlsNote().find("(resumed)") == std::string::npos;
                } catch (const std::exception&) {
                    ++full; // a failed send resumed nothing either
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(full, 0) << "of 40 parallel connections";
}

TEST_F(TlsTest, PasswordIsNotSentWhenStartTlsDisappears)
{
    SmtpAnswers answers;
    answers.ehlo = {"250-test.server", "250 AUTH PLAIN LOGIN"}; // STARTTLS stripped on the way
    ScriptedSmtpServer server(answers, 1);
    smtp.Host = "127.0.0.1";
    smtp.Port = server.Port();
    smtp.AuthenticationType = TWireSMTP::TAuthenticationType::atAny;
    smtp.UserID = "user";
    smtp.Password = "secret";
    EXPECT_THROW(smtp.Send(msg), EWireTlsError);
    server.Join();
    EXPECT_EQ(server.Received()[0].find("AUTH"), std::string::npos) << server.Received()[0];
    EXPECT_EQ(server.Received()[0].find("c2VjcmV0"), std::string::npos);
}

TEST_F(TlsTest, PlainBytesBeforeTheHandshakeDropTheConnection)
{
    // Fake replies in the segment of the 220 to STARTTLS; with implicit TLS,
    // ahead of the first record.
    for (const Security security : {Security::StartTls, Security::Tls}) {
        ScriptedSmtpServer server([&](ServerSession& s, int) {
            if (security == Security::StartTls) {
                s.Reply("220 test.server ESMTP");
                s.ReadLine();
                s.Send("250-test.server\r\n250 STARTTLS\r\n");
                s.ReadLine();
            }
            s.Send("220 Go ahead\r\n250 fake.server\r\n250 OK\r\n354 Go ahead\r\n250 Queued\r\n");
        });
        smtp.Port = server.Port();
        smtp.Security = security;
        try {
            smtp.Send(msg);
            ADD_FAILURE() << "plain text was read as replies inside TLS";
        } catch (const EWireTlsError& e) {
            EXPECT_EQ(
                e.Message(), "TLS handshake with localhost failed: the server sent data before the TLS handshake.");
        }
        server.Join();
        // No farewell; after STARTTLS not even the client's hello.
        const std::string sent = server.Received().at(0);
        EXPECT_TRUE(
            security == Security::Tls ? sent.find("Quit") == std::string::npos : sent.ends_with("\r\nSTARTTLS\r\n"))
            << sent;
    }
}

TEST_F(TlsTest, PlainStartAtAPortOfTlsEndsWithTheHint)
{
    // Port 465 (here the real server's) waits in silence for the client's
    // hello; another server answers with an alert record before any greeting.
    TlsSink sink({"--mode", "implicit", "--cert", good.pem, "--key", good.keyFile});
    ScriptedSmtpServer alerting([](ServerSession& s, int) {
        s.Send(std::string("\x15\x03\x03\x00\x02\x02\x28", 7));
        s.WaitForPeerClose(std::chrono::seconds(5));
    });
    CountingWinsock binding;
    binding.redirectPort = {465, sink.Port()};
    const std::string hint = ": this port expects TLS from the start: choose Security TLS.";
    const struct {
        Security security;
        int port;
        std::string error;
    } cases[] = {
        {Security::StartTls, 465, "localhost:465 sent no greeting within 3 seconds" + hint},
        {Security::None, alerting.Port(),
            "localhost:" + std::to_string(alerting.Port()) + " answered with TLS instead of a greeting" + hint},
    };
    for (const auto& c : cases) {
        smtp.Security = c.security;
        smtp.Port = c.port;
        try {
            smtp.Send(msg);
            ADD_FAILURE() << "sent to " << c.port;
        } catch (const EWireTlsExpected& e) {
            EXPECT_EQ(e.Message(), c.error);
        }
    }
    alerting.Join();
    EXPECT_EQ(alerting.Received().at(0), "") << "nothing goes to a port that speaks TLS";
    EXPECT_EQ(sink.Stop().find("MESSAGE"), std::string::npos);
}
