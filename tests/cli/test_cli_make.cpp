// ordergate-cli make, run as the vendor runs it: a process with a report,
// a program folder and the lists in the working folder.

#include "CliProcess.h"
#include "orders/BatchFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Outcome = og::test::CliOutcome;

class MakeCommand : public ::testing::Test {
protected:
    QTemporaryDir work;    // the working folder, with the lists
    QTemporaryDir program; // --dir
    QString examples = QStringLiteral(OG_EXAMPLES_DIR);

    QString programDir() const { return program.path() + u'/'; }

    Outcome run(const QStringList& args, const QByteArray& input = {})
    {
        return og::test::runCli(work.path(), QStringList {"make"} + args, input);
    }

    void put(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void copyExampleLists()
    {
        for (const char* name : {"bozos.txt", "Address.txt", "goodguys.txt"})
            ASSERT_TRUE(QFile::copy(examples + u'/' + QString::fromUtf8(name), work.filePath(name)));
    }
    QStringList programFiles() const { return QDir(program.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

TEST_F(MakeCommand, PrintsExactlyTheStatisticsAndWritesBothFiles)
{
    copyExampleLists();
    const Outcome o = run({examples + "/swreg-report.csv", "--product", "tool", "--dir", program.path()});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.err.startsWith("ordergate-cli make: 6 new, 0 kept, 0 removed, 0 changed\n"
                                 "ordergate-cli make: new: alice@example.com\n"))
        << o.err.toStdString();
    EXPECT_EQ(o.out,
        "processed 4 entries for Store: Tool\n"
        "1 bozos blocked\n"
        "1 email addresses updated in email_Tool.txt\n"
        "2 added from goodguys.txt file\n"
        "6 Total\n"
        "MakePass.ksh and email_Tool.txt placed in directory: " +
            programDir() +
            "\n"
            "Used report from SWREG\n");
    EXPECT_EQ(read(program.filePath("email_Tool.txt")),
        "alice@example.com , 100101\r\nbeta.tester@example.org , BETA-7\r\n"
        "Carol@Example.com , 100103\r\ndave@example.com , 100104\r\n"
        "henry@example.org , 100108\r\nreviewer@example.com , PRESS-1\r\n");
    EXPECT_TRUE(read(program.filePath("MakePass.ksh")).startsWith("echo batch file for product: Tool\r\n"));
    EXPECT_EQ(read(program.filePath("ordergate.ini")),
        "[options]\r\nefile=" + (programDir() + "email_Tool.txt").toUtf8() +
            "\r\n[addressColumns]\r\nemail_Tool.txt=order\r\nemail_Tool_new.txt=order\r\n");
}

TEST_F(MakeCommand, ReadsStandardInputAndTakesTheFirstProductEntry)
{
    const QByteArray report = read(examples + "/regnet-report.csv");
    for (const QStringList& args :
        {QStringList {"-", "--dir", program.path()}, QStringList {"--dir=" + program.path()}}) {
        const Outcome o = run(args, report);
        ASSERT_EQ(o.status, 0) << o.err.toStdString();
        EXPECT_TRUE(o.out.startsWith("processed 4 entries for Store: All\n")) << o.out.toStdString();
        EXPECT_TRUE(o.out.endsWith("Used report from RegNet\n"));
    }
    EXPECT_EQ(programFiles(),
        (QStringList {"MakePass.ksh", "accounts_All.txt", "changes_All.txt", "email_All.txt", "email_All_new.txt",
            "ordergate.ini"}));
}

TEST_F(MakeCommand, UsesTheOptionsOfTheProgramFolderAndReportsWithLfEnds)
{
    put(program.filePath("ordergate.ini"),
        "[options]\r\nuser=\r\norderNr=0\r\nnames=1\r\nchmodProtect=750\r\nPmask=*.zip\r\n");
    QByteArray report = read(examples + "/swreg-report.csv");
    report.replace("\r\n", "\n");
    put(work.filePath("report.csv"), report);
    const Outcome o = run({"report.csv", "--product", "Widget", "--dir", program.path()});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(read(program.filePath("email_Widget.txt")), "grace@example.org , Grace Garner\r\n");
    EXPECT_EQ(read(program.filePath("MakePass.ksh")),
        "echo batch file for product: Widget\r\n" + QByteArray(og::kBinaryUploadGuard[0]) + "\r\n" +
            og::kBinaryUploadGuard[1] +
            "\r\n"
            "htpasswd -bc .htpasswd grace@example.org 100107\r\n"
            "chmod 644 .htpasswd\r\nchmod 750 *.zip\r\nchmod 644 .htaccess\r\nrm MakePass.ksh\r\n");
    // the options themselves are left as they were; efile is added
    EXPECT_TRUE(read(program.filePath("ordergate.ini")).startsWith("[options]\r\nuser=\r\norderNr=0\r\n"));
}

TEST_F(MakeCommand, FailuresGoToStandardErrorAndWriteNothing)
{
    // no order line
    put(work.filePath("empty.csv"), "just a heading\r\n");
    Outcome o = run({"empty.csv", "--dir", program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(o.err.contains("No records processed")) << o.err.toStdString();

    // a product the report does not name: the message lists those it does
    o = run({examples + "/swreg-report.csv", "--product", "Gadget", "--dir", program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(o.err.contains("\"All\", \"Tool\", \"Tool Pro\", \"Widget\"")) << o.err.toStdString();

    // a report that cannot be read
    o = run({"missing.csv", "--dir", program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.contains("missing.csv")) << o.err.toStdString();

    // a program folder that does not exist
    o = run({examples + "/swreg-report.csv", "--dir", work.filePath("nowhere")});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.contains("nowhere")) << o.err.toStdString();

    // a list that exists but cannot be read: no files with half the lists
    ASSERT_TRUE(QDir(work.path()).mkdir("bozos.txt"));
    o = run({examples + "/swreg-report.csv", "--dir", program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.contains("bozos.txt")) << o.err.toStdString();

    EXPECT_TRUE(programFiles().isEmpty()) << programFiles().join(' ').toStdString();
}

TEST_F(MakeCommand, EarlierCustomersAreDroppedWithAWarningOrKeptOnRequest)
{
    const QByteArray both = "1,Tue Jan 01 10:00:00 2002,7,Tool,a@x,9\r\n1,Tue Jan 01 10:00:00 2002,8,Tool,b@x,9\r\n";
    const QByteArray one = "1,Tue Jan 01 10:00:00 2002,7,Tool,a@x,9\r\n";
    struct Case {
        QStringList flags;
        QString settings;
        bool kept, warned;
    };
    const Case cases[] = {
        {{}, "", false, true},
        {{"--drop-missing"}, "keepaccounts=1", false, false},
        {{"--keep-accounts"}, "", true, false},
        {{}, "keepaccounts=1", true, false},
    };
    for (const Case& c : cases) {
        put(program.filePath("ordergate.ini"), "[options]\r\n" + c.settings.toUtf8() + "\r\n");
        ASSERT_EQ(run({"-", "--dir", program.path()}, both).status, 0);
        const Outcome o = run(QStringList {"-", "--dir", program.path()} + c.flags, one);
        ASSERT_EQ(o.status, 0) << o.err.toStdString();
        EXPECT_EQ(read(program.filePath("MakePass.ksh")).contains("b@x 8"), c.kept) << c.flags.join(' ').toStdString();
        EXPECT_EQ(o.err.contains("warning: 1 customers of the last run"), c.warned) << o.err.toStdString();
        EXPECT_TRUE(o.err.startsWith(c.kept ? "ordergate-cli make: 0 new, 2 kept, 0 removed, 0 changed"
                                            : "ordergate-cli make: 0 new, 1 kept, 1 removed, 0 changed"))
            << o.err.toStdString();
    }
    EXPECT_EQ(run({"-", "--keep-accounts", "--drop-missing"}, one).status, 2);
    // an emptied ledger stops an unasked run; --drop-missing starts afresh
    put(program.filePath("ordergate.ini"), "[options]\r\n");
    put(program.filePath("accounts_Tool.txt"), "");
    const Outcome stopped = run({"-", "--dir", program.path()}, one);
    EXPECT_EQ(stopped.status, 1);
    EXPECT_TRUE(stopped.err.contains("accounts_Tool.txt is empty") && stopped.err.contains("--drop-missing"))
        << stopped.err.toStdString();
    const Outcome afresh = run({"-", "--dir", program.path(), "--drop-missing"}, one);
    EXPECT_EQ(afresh.status, 0) << afresh.err.toStdString();
    EXPECT_TRUE(afresh.err.contains("1 new, 0 kept")) << afresh.err.toStdString();
}

TEST_F(MakeCommand, TheChangesNameCustomersWhoseAddressBounced)
{
    put(work.filePath("bounced.txt"), "b@x 2026-12-11 550 5.1.1\r\nnot@ordered 2026-12-11 550 5.1.1\r\n");
    const Outcome o = run({"-", "--dir", program.path()},
        "1,Tue Jan 01 10:00:00 2002,7,Tool,a@x,9\r\n1,Tue Jan 01 10:00:00 2002,8,Tool,b@x,9\r\n");
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("1 customers' addresses bounced (look for a new one): b@x (bounced 2026-12-11 550 "
                               "5.1.1)\n"))
        << o.err.toStdString();
    EXPECT_TRUE(
        read(program.filePath("changes_Tool.txt")).endsWith("address bounced: b@x (bounced 2026-12-11 550 5.1.1)\r\n"));
}

TEST_F(MakeCommand, AFailedFileIsReportedWithoutStatistics)
{
    ASSERT_TRUE(QDir(program.path()).mkdir("email_Tool.txt"));
    const Outcome o = run({examples + "/swreg-report.csv", "--product", "Tool", "--dir", program.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(o.err.contains("email_Tool.txt")) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("no file was replaced")) << o.err.toStdString();
}

TEST_F(MakeCommand, SkippedLinesAndMissingListsAreSaidOnStandardError)
{
    const QByteArray report = "1,d,77,Tool,a@x,y\r\n1,d,,Tool,b@x,y\r\n";
    const Outcome o = run({"-", "--dir", program.path()}, report);
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.endsWith("Used report from SWREG\n1 line skipped: no order number or no address\n"))
        << o.out.toStdString();
    EXPECT_TRUE(o.err.contains("line 2 skipped, no order number: 1,d,,Tool,b@x,y")) << o.err.toStdString();
    EXPECT_TRUE(
        o.err.contains("bozos.txt not found in " + QDir(work.path()).canonicalPath() + "/: no customer blocked"))
        << o.err.toStdString();

    // a FIFO as the report is refused at once instead of waiting for a writer
    const QString fifo = work.filePath("report.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Outcome refused = run({fifo, "--dir", program.path()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("not a regular file")) << refused.err.toStdString();
}

TEST_F(MakeCommand, UsageErrorsAndHelp)
{
    for (const QStringList& args : {QStringList {"--bogus"}, QStringList {"a.csv", "b.csv"}, QStringList {"--product"},
             QStringList {"--dir", ""}, QStringList {"--product", "a", "--product", "b"}}) {
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(o.err.contains("Usage: ordergate-cli make")) << o.err.toStdString();
    }
    Outcome o = run({"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* word : {"REPORT", "--product", "--dir", "bozos.txt", "efile", "standard input"})
        EXPECT_TRUE(o.out.contains(QString::fromUtf8(word))) << word;

    QProcess p;
    p.start(QStringLiteral(OG_CLI), {"--help"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString overview = QString::fromUtf8(p.readAllStandardOutput());
    for (const char* command : {"make", "layouts", "send", "login", "publish", "bounces"})
        EXPECT_TRUE(overview.contains(QStringLiteral("\n  %1 ").arg(QLatin1String(command)))) << command;
    p.start(QStringLiteral(OG_CLI), {});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2);

    // a copy of the program without the module of the commands that reach
    // servers still makes, and says what is missing
    const QString alone = work.filePath("ordergate-cli");
    ASSERT_TRUE(QFile::copy(QStringLiteral(OG_CLI), alone));
    p.start(alone, {"send", "--help"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2);
    const QString said = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(said.contains("unknown command \"send\"") && said.contains("install Ordergate again"))
        << said.toStdString();
    p.start(alone, {"make", "--help"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0);
}

// The header-row samples give their expected files; the batch file runs
// under ksh as uploaded in ASCII mode and every account it names verifies.
TEST_F(MakeCommand, HeaderRowSamplesGiveTheirExpectedFilesAndAccounts)
{
    copyExampleLists();
    const QString ksh = QStandardPaths::findExecutable("ksh"), htpasswd = QStandardPaths::findExecutable("htpasswd");
    struct Sample {
        QString store, file, expected;
        QStringList more;
    };
    const Sample samples[] = {
        {"Gumroad", "gumroad-report.csv", "gumroad", {}},
        {"Shopify", "shopify-orders.csv", "shopify", {}},
        {"Paddle", "paddle-transactions.csv", "paddle", {"--adjustments", examples + "/paddle-adjustments.csv"}},
        {"Lemon Squeezy", "lemonsqueezy-orders.csv", "lemonsqueezy", {}},
        {"Easy Digital Downloads", "edd-payments.csv", "edd", {}},
        {"Stripe", "stripe-payments.csv", "stripe", {}},
        {"Polar", "polar-orders.csv", "polar", {}},
    };
    for (const Sample& sampleCase : samples) {
        const QString& store = sampleCase.store;
        const QString sample = examples + u'/' + sampleCase.file;
        const QString expected = examples + "/expected/" + sampleCase.expected + u'/';
        const Outcome o = run(QStringList {sample, "--dir", program.path()} + sampleCase.more);
        ASSERT_EQ(o.status, 0) << o.err.toStdString();
        EXPECT_TRUE(o.out.contains("Used report from " + store + "\n")) << o.out.toStdString();
        const QByteArray script = read(programDir() + "MakePass.ksh");
        EXPECT_EQ(script, read(expected + "MakePass.ksh")) << store.toStdString();
        EXPECT_EQ(read(programDir() + "email_All.txt"), read(expected + "email_All.txt")) << store.toStdString();
        if (ksh.isEmpty() || htpasswd.isEmpty())
            continue; // Debian packages ksh, apache2-utils
        QTemporaryDir server;
        put(server.filePath("MakePass.ksh"), QByteArray(script).replace("\r\n", "\n"));
        put(server.filePath(".htaccess"), {});
        auto tool = [&](const QString& program, const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(server.path());
            p.start(program, args);
            return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        ASSERT_EQ(tool(ksh, {"MakePass.ksh"}), 0) << store.toStdString();
        static const QRegularExpression account(
            "^htpasswd -bc? \\.htpasswd (\\S+) (\\S+)\r$", QRegularExpression::MultilineOption);
        int accounts = 0;
        for (const auto& m : account.globalMatch(QString::fromUtf8(script))) {
            const QString password = m.captured(2).startsWith(u'\'') ? m.captured(2).mid(1).chopped(1) : m.captured(2);
            EXPECT_EQ(tool(htpasswd, {"-vb", ".htpasswd", m.captured(1), password}), 0) << m.captured(0).toStdString();
            ++accounts;
        }
        EXPECT_GE(accounts, 7) << store.toStdString();
    }
    // Gumroad's "Do not contact?" customer keeps the account and is listed
    const QByteArray unsubscribed = read(work.filePath("unsubscribed.txt"));
    EXPECT_TRUE(unsubscribed.startsWith("Carol@Example.com 20")) << unsubscribed.constData();
    EXPECT_TRUE(unsubscribed.endsWith(" do not contact (Gumroad: Do not contact?)\r\n")) << unsubscribed.constData();
}

// Layouts by name: a saved one is listed and taken, an unknown name and a
// layout whose columns the header row lacks fail with their reason.
TEST_F(MakeCommand, LayoutsAreListedAndTakenByName)
{
    put(programDir() + "ordergate.ini", "[layout Kasse]\r\norder=Ref\r\nemail=Mail box\r\nproduct=Thing\r\n");
    put(work.filePath("kasse.csv"), "Ref,Mail box,Thing\n1,a@example.com,Tool\n");
    put(work.filePath("receipts.csv"),
        "Receipt,Buyer Mail,Item Title,Purchaser,Sold On,Amount\nR1,zoe@example.net,Tool,Zoe,2026-03-01,9\n");
    const Outcome listed = og::test::runCli(work.path(), {"layouts", "--dir", program.path()});
    ASSERT_EQ(listed.status, 0) << listed.err.toStdString();
    EXPECT_TRUE(listed.out.startsWith("Kasse (saved)\n  order number: Ref\n")) << listed.out.toStdString();
    EXPECT_TRUE(listed.out.contains("Shopify (built-in)\n")) << listed.out.toStdString();
    struct Case {
        QStringList args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"kasse.csv"}, 0, "Used report from Kasse\n"},
        {{"kasse.csv", "--layout", "kasse"}, 0, "Used report from Kasse\n"},
        {{"kasse.csv", "--layout", "nosuch"}, 1, "there is no layout \"nosuch\""},
        {{examples + "/gumroad-report.csv", "--layout", "Shopify"}, 1, "the layout Shopify does not fit"},
        // never read as an old report: the product name would be the password
        {{"receipts.csv"}, 1,
            "\"Receipt\", \"Buyer Mail\", \"Item Title\", \"Purchaser\", \"Sold On\", "
            "\"Amount\"; map its columns (Map columns… in the window, a [layout NAME] of "
            "ordergate.ini and --layout NAME"},
    };
    for (const Case& c : cases) {
        const Outcome o = run(c.args + QStringList {"--dir", program.path()});
        EXPECT_EQ(o.status, c.status) << o.err.toStdString();
        EXPECT_TRUE((o.out + o.err).contains(c.says)) << (o.out + o.err).toStdString();
    }
}

} // namespace
