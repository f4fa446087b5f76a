// The batch file of an example run, run the way the vendor runs it on the
// web server: uploaded in ASCII mode (CR LF becomes LF) and started with ksh,
// with the real htpasswd. Every wait is bounded.

#include "orders/AccountLedger.h"
#include "orders/CustomerLists.h"
#include "orders/ScriptRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace og;

namespace {

struct Account {
    QString user, password;
};

int runTool(const QString& program, const QStringList& args, const QString& cwd, QString* output = nullptr)
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    if (output)
        *output = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ServerScript : public ::testing::Test {
protected:
    QString ksh = QStandardPaths::findExecutable("ksh");
    QString htpasswd = QStandardPaths::findExecutable("htpasswd");
    QTemporaryDir workFolder;   // where the program writes its files
    QTemporaryDir serverFolder; // the download folder on the server

    void SetUp() override
    {
        if (ksh.isEmpty() || htpasswd.isEmpty())
            GTEST_SKIP() << "needs ksh and htpasswd (Debian packages ksh, apache2-utils)";
    }

    // Makes the batch file of product, uploads it (binary: CR LF kept) into
    // a folder that holds .htaccess and tool.zip, and runs it with ksh.
    int runOnServer(
        const Report& report, const QString& product, bool binary, QString* output, const Options& options = {})
    {
        CustomerLists lists;
        lists.load(QStringLiteral(OG_EXAMPLES_DIR));
        RunRequest request;
        request.report = &report;
        request.selectedProduct = product;
        request.lists = &lists;
        request.folder = workFolder.path() + u'/';
        request.options = options;
        lastRun_ = performRun(request);
        QByteArray script = readFile(workFolder.filePath("MakePass.ksh"));
        if (!binary)
            script.replace("\r\n", "\n");
        const QDir server(serverFolder.path());
        for (const QString name : {"MakePass.ksh", ".htaccess", "tool.zip"}) {
            QFile f(server.filePath(name));
            if (!f.open(QIODevice::WriteOnly))
                return -1;
            f.write(name == "MakePass.ksh" ? script : QByteArray());
        }
        QFile::setPermissions(server.filePath(".htaccess"), QFile::ReadOwner | QFile::WriteOwner);
        QFile::setPermissions(server.filePath("tool.zip"), QFile::ReadOwner | QFile::WriteOwner);
        if (!sampleProcesses_)
            return runTool(ksh, {"MakePass.ksh"}, server.path(), output);
        QProcess p;
        p.setWorkingDirectory(server.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(ksh, {"MakePass.ksh"});
        // every process's arguments, read again and again while the script runs
        QDeadlineTimer stop(60000);
        while (!p.waitForFinished(0) && !stop.hasExpired()) {
            for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
                // only the script's processes: other programs may run other scripts
                if (QFileInfo("/proc/" + pid + "/cwd").symLinkTarget() != QFileInfo(server.path()).canonicalFilePath())
                    continue;
                QFile f("/proc/" + pid + "/cmdline");
                if (f.open(QIODevice::ReadOnly))
                    commandLines_ << QString::fromUtf8(f.readAll().replace('\0', ' '));
            }
        }
        p.waitForFinished(5000);
        *output = QString::fromUtf8(p.readAll());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    RunResult lastRun_;
    bool sampleProcesses_ = false;
    QStringList commandLines_;
    bool hasAccount(const Account& a)
    {
        return runTool(htpasswd, {"-vb", ".htpasswd", a.user, a.password}, serverFolder.path()) == 0;
    }
    QStringList serverFiles() const
    {
        return QDir(serverFolder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
};

TEST_F(ServerScript, CreatesEveryAccountSetsTheModesAndDeletesItself)
{
    const QString examples = QStringLiteral(OG_EXAMPLES_DIR);
    // the example report plus orders whose fields hold shell code
    QByteArray text = readFile(examples + "/swreg-report.csv");
    ASSERT_FALSE(text.isEmpty());
    text += "2417,Sat Jan 05 10:00:00 2002,1;touch pwned1,Tool,$(touch${IFS}pwned2)@example.com,9,USD,US,card,M,X,y\r\n"
            "2417,Sat Jan 05 10:00:00 2002,100201,Tool,`touch${IFS}pwned3`@example.org,9,USD,US,card,M,X,y\r\n"
            "2417,Sat Jan 05 10:00:00 2002,it's,Tool,x;touch${IFS}pwned4;'@example.org,9,USD,US,card,M,X,y\r\n"
            "2417,Sat Jan 05 10:00:00 2002,100203,Tool,a|touch${IFS}pwned5>@example.org,9,USD,US,card,M,X,y\r\n";
    // and lines that are no orders: no order number, no address, a zero byte
    text += "2417,Sat Jan 05 10:00:00 2002,,Tool,nopass@example.com,9,USD,US,card,M,X,y\r\n"
            "2417,Sat Jan 05 10:00:00 2002,100301,Tool,or email john@example.com. Thanks,9\r\n";
    text += QByteArray("2417,Sat Jan 05 10:00:00 2002,100302,Tool,zero\0@example.com,9,USD,US,card,M,X,y\r\n", 81);
    // and values htpasswd refuses, the first where the file is created
    const QString longUser = QString(205, u'u') + "@example.com", longPassword(256, u'p');
    const QByteArray refused = "2417,Sat Jan 05 10:00:00 2002,100401,Tool,a:b@example.com,9\r\n"
                               "2417,Sat Jan 05 10:00:00 2002,100402,Tool," +
        longUser.toUtf8() + ",9\r\n2417,Sat Jan 05 10:00:00 2002," + longPassword.toUtf8() +
        ",Tool,long@example.com,9\r\n"
        "2417,Sat Jan 05 10:00:00 2002,100403,Tool,#hash@example.com,9\r\n";
    Report report;
    report.readBytes(refused + text);
    QString output;
    ASSERT_EQ(runOnServer(report, "Tool", false, &output), 0) << output.toStdString();
    const QDir server(serverFolder.path());

    const Account accounts[] = {
        {"alice@example.com", "100101"},
        {"Carol@Example.com", "100103"}, // "tool" is the same product
        {"dave@example.com", "100104"},
        {"old.henry@example.com", "100108"},   // the account keeps the report's address
        {"reviewer@example.com", "PRESS-1"},   // goodguys.txt, for All
        {"beta.tester@example.org", "BETA-7"}, // goodguys.txt, for Tool
        {"$(touch${IFS}pwned2)@example.com", "1;touch pwned1"},
        {"`touch${IFS}pwned3`@example.org", "100201"},
        {"x;touch${IFS}pwned4;'@example.org", "it's"},
        {"a|touch${IFS}pwned5>@example.org", "100203"},
        {"ChangeMe", "ReplaceMeToo"},
    };
    for (const Account& a : accounts) {
        EXPECT_EQ(runTool(htpasswd, {"-vb", ".htpasswd", a.user, a.password}, server.path(), &output), 0)
            << a.user.toStdString() << ": " << output.toStdString();
    }
    const Account absent[] = {
        {"bob@example.org", "100102"},     // Tool Pro
        {"frank@example.com", "100106"},   // in bozos.txt
        {"partner@example.com", "PART-3"}, // goodguys.txt, for Tool Pro
        {"grace@example.org", "100107"},   // Widget
        {"nopass@example.com", ""},
        {"or email john@example.com. Thanks", "100301"},
        {"a:b@example.com", "100401"},
        {longUser, "100402"},
        {"long@example.com", longPassword},
        {"#hash@example.com", "100403"},
    };
    EXPECT_EQ(report.skippedLineCount(), 7);
    for (const Account& a : absent) {
        EXPECT_NE(runTool(htpasswd, {"-vb", ".htpasswd", a.user, a.password}, server.path(), &output), 0)
            << a.user.toStdString();
    }

    auto mode = [&](const QString& name) {
        QString out;
        runTool("stat", {"-c", "%a", name}, server.path(), &out);
        return out.trimmed();
    };
    EXPECT_EQ(mode(".htpasswd"), "644");
    EXPECT_EQ(mode(".htaccess"), "644");
    EXPECT_EQ(mode("tool.zip"), "777");

    // the script deleted itself, and nothing from the report ran
    EXPECT_EQ(server.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList {".htaccess", ".htpasswd", "tool.zip"}));
    EXPECT_TRUE(QDir(workFolder.path()).entryList({"pwned*"}).isEmpty());
}

// Every form of account line makes accounts htpasswd verifies; hidden, no
// process of the server ever shows a password in its arguments.
TEST_F(ServerScript, EveryAccountLineFormVerifiesAndHiddenPasswordsStayHidden)
{
    Report report;
    report.readBytes(readFile(QStringLiteral(OG_EXAMPLES_DIR "/swreg-report.csv")));
    const Account accounts[] = {
        {"alice@example.com", "100101"}, {"beta.tester@example.org", "BETA-7"}, {"ChangeMe", "ReplaceMeToo"}};
    for (const QString passhash : {"", "bcrypt"}) {
        for (const bool hide : {false, true}) {
            Options options;
            options.passhash = passhash;
            options.hidepasswords = hide;
            sampleProcesses_ = hide;
            commandLines_.clear();
            QString output;
            ASSERT_EQ(runOnServer(report, "Tool", false, &output, options), 0) << output.toStdString();
            const QByteArray stored = readFile(serverFolder.filePath(".htpasswd"));
            EXPECT_EQ(stored.contains(":$2y$"), !passhash.isEmpty()) << stored.data();
            for (const Account& a : accounts)
                EXPECT_TRUE(hasAccount(a)) << a.user.toStdString() << " " << passhash.toStdString() << hide;
            EXPECT_EQ(commandLines_.filter(QRegularExpression("100101|BETA-7|ReplaceMeToo")), QStringList());
            if (hide && !passhash.isEmpty()) { // bcrypt is slow enough to be seen at work
                EXPECT_FALSE(commandLines_.filter("htpasswd").isEmpty());
            }
            QFile::remove(serverFolder.filePath(".htpasswd"));
        }
    }
}

// Uploaded in binary mode every line keeps its CR: the file stops before
// any account, says why and removes itself.
TEST_F(ServerScript, ABinaryUploadStopsBeforeAnythingAndRemovesItself)
{
    Report report;
    report.readBytes(readFile(QStringLiteral(OG_EXAMPLES_DIR "/swreg-report.csv")));
    QString output;
    EXPECT_NE(runOnServer(report, "Tool", true, &output), 0);
    EXPECT_NE(output.indexOf("binary mode"), -1) << output.toStdString();
    EXPECT_EQ(serverFiles(), (QStringList {".htaccess", "tool.zip"}));
}

// A line break inside a quoted field: the record goes on on the next line.
TEST_F(ServerScript, AQuotedLineBreakKeepsTheOrderWhole)
{
    Report report;
    report.readBytes(readFile(QStringLiteral(OG_EXAMPLES_DIR "/regnet-report.csv")) +
        "\"A7\",\"paid\r\nby card\",\"R-6001\",\"2002-02-14 "
        "10:00:00\",\"1\",\"9\",\"Tool\",\"liz@example.com\",\"\"\r\n");
    QString output;
    ASSERT_EQ(runOnServer(report, "Tool", false, &output), 0) << output.toStdString();
    EXPECT_TRUE(hasAccount({"liz@example.com", "R-6001"}));
    EXPECT_TRUE(hasAccount({"ivy@example.com", "R-5001"}));
}

// The ledger of earlier runs meets the batch file under the one rule of
// account values: a line that breaks it is skipped and named, its customer
// counts as not in the ledger, and every account of the batch file verifies.
// A ledger that is cut short, emptied or another product's stops the run.
TEST_F(ServerScript, LedgerValuesFollowTheOneRuleAndADamagedLedgerStopsTheRun)
{
    const QByteArray header = AccountLedger::headerLine("Tool") + "\r\n";
    const QByteArray kept = "kept@example.com\tK-1\tR1\tR1\r\n";
    const auto ledger = [&](const QByteArray& bad, int lines = 2) {
        return header + bad + kept + AccountLedger::countLine(lines) + "\r\n";
    };
    struct Case {
        const char* what;
        QByteArray ledger;
        const char* says; // in the skipped line's note, or in the error that stops the run
        bool stops = false;
    };
    const Case cases[] = {
        {"a zero byte", ledger(QByteArray("nul\0@example.com\tN-1\tR1\tR1\r\n", 28)), "line 2 skipped, a control"},
        {"an escaped line break", ledger("a\\nb@example.com\tL-1\tR1\tR1\r\n"), "a control character"},
        {"a leading blank", ledger(" alice@example.com\tWRONG\tR1\tR1\r\n"), "a blank at the start"},
        {"a Ctrl-Z",
            ledger("\x1a"
                   "alice@example.com\tWRONG\tR1\tR1\r\n"),
            "a control character"},
        {"a password of blanks", ledger("blank@example.com\t   \tR1\tR1\r\n"), "of blanks alone"},
        {"a ledger without its count", header + kept, nullptr},
        {"cut short", ledger("cut@example.com\tC-1\tR1\tR1\r\n").chopped(20), "is cut short", true},
        {"cut at a line end", header + kept, "is cut short", true},
        {"a line lost", ledger({}, 2), "counts 2 accounts but holds 1", true},
        {"empty", "", "is empty", true},
        {"another product", AccountLedger::headerLine("Widget") + "\r\n" + kept + "# 1 accounts\r\n",
            "the product \"Widget\", not of \"Tool\"", true},
    };
    Report report;
    // a byte order mark before the order number is no part of the password
    report.readBytes("1,Tue Jan 01 10:00:00 2002,\xEF\xBB\xBF"
                     "100101,Tool,alice@example.com,9\r\n");
    for (const Case& c : cases) {
        QByteArray text = c.ledger;
        if (QByteArrayView(c.what) == "a ledger without its count")
            text.replace("; the last line counts them", ""); // as written before ledgers counted their lines
        QFile::remove(workFolder.filePath("MakePass.ksh"));
        QFile file(workFolder.filePath("accounts_Tool.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        Options options;
        options.keepaccounts = MissingAccounts::Keep;
        QString output, error;
        try {
            EXPECT_EQ(runOnServer(report, "Tool", false, &output, options), 0) << c.what << output.toStdString();
        } catch (const RunError& e) {
            error = QString::fromUtf8(e.what());
        }
        if (c.stops) {
            EXPECT_TRUE(error.contains(c.says) && error.contains("--drop-missing")) << c.what << error.toStdString();
            EXPECT_FALSE(QFile::exists(workFolder.filePath("MakePass.ksh"))) << c.what;
            EXPECT_EQ(readFile(workFolder.filePath("accounts_Tool.txt")), text) << c.what;
            continue;
        }
        ASSERT_TRUE(error.isEmpty()) << c.what << error.toStdString();
        if (c.says) {
            EXPECT_TRUE(lastRun_.notes.join('\n').contains(c.says))
                << c.what << lastRun_.notes.join('\n').toStdString();
        }
        QStringList users;
        for (const QByteArray& line : readFile(serverFolder.filePath(".htpasswd")).split('\n'))
            users.append(QString::fromUtf8(line.left(line.indexOf(':'))));
        users.removeAll(QString());
        users.sort();
        EXPECT_EQ(users.join(' '),
            "ChangeMe alice@example.com beta.tester@example.org kept@example.com "
            "reviewer@example.com")
            << c.what;
        EXPECT_TRUE(hasAccount({"alice@example.com", "100101"})) << c.what;
        EXPECT_TRUE(hasAccount({"kept@example.com", "K-1"})) << c.what;
        QFile::remove(serverFolder.filePath(".htpasswd"));
    }
}

} // namespace
