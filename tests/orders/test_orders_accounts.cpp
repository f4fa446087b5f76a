// Accounts across runs: the ledger, what changed, earlier customers kept,
// the account lines' forms, and the run's files replaced together.

#include "orders/AccountChanges.h"
#include "orders/BytesHash.h"
#include "orders/ScriptRun.h"
#include "tests/support/FileSizeLimit.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>

using namespace og;

namespace {

QString swreg(const QString& order, const QString& address)
{
    return QStringLiteral("1,Tue Jan 01 10:00:00 2002,%1,Tool,%2,9.95,USD,US,card,Ann,Lee,x\r\n").arg(order, address);
}

class Accounts : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Report report;
    CustomerLists lists;

    QString folder() const { return dir.path() + u'/'; }
    QByteArray read(const QString& name) const
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void put(const QString& name, const QByteArray& bytes) const
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    RunResult run(const QString& text, MissingAccounts missing, const QString& stamp)
    {
        report.read(text);
        RunRequest request;
        request.report = &report;
        request.lists = &lists;
        request.selectedProduct = QStringLiteral("Tool");
        request.folder = folder();
        request.runStamp = stamp;
        request.options.keepaccounts = missing;
        return performRun(request);
    }
    QStringList allFiles() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    }
};

TEST_F(Accounts, ThreeRunsSayWhatChangedAskAboutMissingCustomersAndKeepThem)
{
    // run 1: everyone is new
    RunResult r = run(swreg("1", "a@x") + swreg("2", "b@x") + swreg("3", "c@x"), MissingAccounts::Ask, "R1");
    EXPECT_EQ(r.changes.value(0), "3 new, 0 kept, 0 removed, 0 changed");
    EXPECT_EQ(read("email_Tool_new.txt"), read("email_Tool.txt"));
    EXPECT_EQ(read("accounts_Tool.txt").split('\n').value(1), "a@x\t1\tR1\tR1\r");

    // run 2: c is gone, d is new, b ordered again: asked first, nothing written
    const QString second = swreg("1", "a@x") + swreg("5", "b@x") + swreg("4", "d@x");
    const QByteArray before = read("MakePass.ksh");
    r = run(second, MissingAccounts::Ask, "R2");
    EXPECT_TRUE(r.decisionNeeded);
    EXPECT_EQ(r.keepable, 1);
    EXPECT_EQ(read("MakePass.ksh"), before);
    EXPECT_EQ(allFiles().size(), 6);
    r = run(second, MissingAccounts::Keep, "R2");
    EXPECT_FALSE(r.decisionNeeded);
    EXPECT_EQ(r.changes,
        (QStringList {"1 new, 2 kept, 0 removed, 1 changed (1 of the kept from earlier runs only)", "new: d@x",
            "changed password: b@x", "kept from an earlier run: c@x"}));
    EXPECT_EQ(read("email_Tool_new.txt"), "d@x , 4\r\n");
    EXPECT_TRUE(read("MakePass.ksh").contains("htpasswd -b .htpasswd d@x 4\r\nhtpasswd -b .htpasswd c@x 3\r\n"));
    EXPECT_TRUE(read("changes_Tool.txt").contains("\r\nkept from an earlier run: c@x\r\n"));
    EXPECT_TRUE(read("accounts_Tool.txt").contains("\r\nb@x\t5\tR1\tR2\r\nd@x\t4\tR2\tR2\r\nc@x\t3\tR1\tR1\r\n"));

    // run 3: only d ordered; a is blocked now, b has a new address, c is kept
    lists.loadTexts("a@x\r\n", "b@x b2@x\r\n", {});
    r = run(swreg("4", "d@x"), MissingAccounts::Keep, "R3");
    EXPECT_EQ(r.changes.value(0), "0 new, 2 kept, 2 removed, 0 changed (1 of the kept from earlier runs only)");
    const QByteArray batch = read("MakePass.ksh");
    EXPECT_TRUE(batch.contains("htpasswd -bc .htpasswd d@x 4\r\nhtpasswd -b .htpasswd c@x 3\r\n")) << batch.data();
    EXPECT_FALSE(batch.contains("a@x"));
    EXPECT_FALSE(batch.contains("b@x"));
    EXPECT_TRUE(read("changes_Tool.txt").contains("removed: a@x (blocked in bozos.txt)\r\n"));
    EXPECT_TRUE(read("changes_Tool.txt").contains("removed: b@x (a new address in Address.txt)\r\n"));
    EXPECT_EQ(read("email_Tool_new.txt"), "");

    // dropped, c loses access too
    r = run(swreg("4", "d@x"), MissingAccounts::Drop, "R4");
    EXPECT_EQ(r.changes.value(0), "0 new, 1 kept, 1 removed, 0 changed");
    EXPECT_FALSE(read("MakePass.ksh").contains("c@x"));
}

TEST_F(Accounts, WithoutALedgerTheLastAddressFileServes)
{
    put("email_Tool.txt", "a@x , 1\r\nold@x , 7\r\n");
    const RunResult r = run(swreg("2", "a@x"), MissingAccounts::Keep, "R1");
    EXPECT_EQ(r.changes,
        (QStringList {"0 new, 1 kept, 0 removed, 1 changed (1 of the kept from earlier runs only)",
            "changed password: a@x", "kept from an earlier run: old@x"}));
    EXPECT_TRUE(read("MakePass.ksh").contains("htpasswd -b .htpasswd old@x 7\r\n"));
}

TEST_F(Accounts, LinesLongEnoughToBeCutApartKeepEachAccountsOwnValues)
{
    // such a line's fields are cut into a buffer the next line reuses
    const QString tail(10000, u'x');
    QString text;
    for (const char* order : {"1", "2"})
        text += swreg(order, QStringLiteral("%1@x").arg(order)).replace(QStringLiteral(",x\r\n"), u',' + tail + "\r\n");
    run(text, MissingAccounts::Drop, "R1");
    const QByteArray ledger = read("accounts_Tool.txt");
    EXPECT_TRUE(ledger.contains("\r\n1@x\t1\tR1\tR1\r\n2@x\t2\tR1\tR1\r\n")) << ledger.constData();
}

TEST_F(Accounts, LedgerValuesSurviveBackslashes)
{
    // short values, and long ones with the backslash in the first eight
    // bytes, in a later eight, or in the last few
    for (const LedgerAccount& written : {LedgerAccount {"a\\b@x", "p\\q\\", "R1", "R2"},
             LedgerAccount {"cu\\stomer.name@example.com", "password.long\\", "R1", "R2"},
             LedgerAccount {"customer.na\\me@example.com", "pass\\word.long", "R1", "R2"}}) {
        LineBlock lines;
        AccountLedger::appendLine(lines, written);
        AccountLedger ledger;
        ledger.parse(lines.fileBytes());
        ASSERT_EQ(ledger.accounts().size(), 1u);
        const LedgerAccount& back = ledger.accounts()[0];
        EXPECT_EQ(back.user, written.user);
        EXPECT_EQ(back.password, written.password);
        EXPECT_EQ(back.lastRun, "R2");
        EXPECT_EQ(ledger.find(written.user), 0);
    }
}

TEST(AccountValues, ControlCharactersAreFoundWhereverTheyStand)
{
    const QByteArray address = "customer.name@example.com"; // 25 bytes
    EXPECT_EQ(accountValueFault(address, "pass word"), AccountValueFault::None);
    EXPECT_EQ(accountValueFault(QByteArray("kund.\xc3\xa4@example.com"), "p"), AccountValueFault::None);
    for (const char c : {'\0', '\t', '\n', '\x1f', '\x7f'}) {
        for (const qsizetype at : {2, 9, 24}) {
            QByteArray user = address;
            user[at] = c;
            EXPECT_EQ(accountValueFault(user, "p"), AccountValueFault::ControlCharacter) << int(c) << " at " << at;
            EXPECT_EQ(accountValueFault(address, user), AccountValueFault::ControlCharacter) << int(c) << " at " << at;
        }
    }
}

TEST_F(Accounts, AccountLinesFollowTheHashAndHidingOptions)
{
    struct Case {
        QString passhash;
        bool hide;
        const char *first, *next;
    };
    const Case cases[] = {
        {"", false, "htpasswd -bc .htpasswd a@x 1", "htpasswd -b .htpasswd 'b c@x' 'it'\\''s'"},
        {"bcrypt", false, "htpasswd -bcB -C 10 .htpasswd a@x 1", "htpasswd -bB -C 10 .htpasswd 'b c@x' 'it'\\''s'"},
        {"", true, "printf '%s\\n' 1 | htpasswd -ic .htpasswd a@x",
            "printf '%s\\n' 'it'\\''s' | htpasswd -i .htpasswd 'b c@x'"},
        {"bcrypt", true, "printf '%s\\n' 1 | htpasswd -icB -C 10 .htpasswd a@x",
            "printf '%s\\n' 'it'\\''s' | htpasswd -iB -C 10 .htpasswd 'b c@x'"},
    };
    for (const Case& c : cases) {
        LineBlock lines;
        BatchFile batch(lines, nullptr);
        Options options;
        options.passhash = c.passhash;
        options.hidepasswords = c.hide;
        batch.setAccountLines(options);
        batch.account({AccountChange::FromReport, 0, "a@x", "1"});
        batch.account({AccountChange::FromReport, 1, "b c@x", "it's"});
        EXPECT_EQ(lines.at(0), c.first);
        EXPECT_EQ(lines.at(1), c.next);
    }
}

// Whichever file of the run cannot be written or put in place (a full disk
// under the batch file, a folder in the way of another), every old file stays.
TEST_F(Accounts, AFailedReplacementLeavesEveryOldFile)
{
    QString many;
    for (int i = 0; i < 20; ++i)
        many += swreg(QString::number(i), QStringLiteral("c%1@x").arg(i));
    run(many, MissingAccounts::Ask, "R1");
    const QStringList names = allFiles();
    ASSERT_EQ(names.size(), 6);
    std::map<QString, QByteArray> old;
    for (const QString& name : names)
        old[name] = read(name);
    ASSERT_GT(old["MakePass.ksh"].size(), 800);
    ASSERT_LT(old["accounts_Tool.txt"].size(), 700);
    for (const QString blocker : {"", "MakePass.ksh", "email_Tool_new.txt"}) {
        if (!blocker.isEmpty()) {
            ASSERT_TRUE(QFile::remove(dir.filePath(blocker)));
            ASSERT_TRUE(QDir(dir.path()).mkdir(blocker)); // a folder in the way of the file
        }
        try {
            std::optional<test::FileSizeLimit> full;
            if (blocker.isEmpty())
                full.emplace(700); // the batch file alone is longer
            run(many + swreg("99", "new@x"), MissingAccounts::Ask, "R2");
            ADD_FAILURE() << "expected RunError";
        } catch (const RunError& e) {
            const QString message = QString::fromUtf8(e.what());
            EXPECT_TRUE(message.contains(blocker.isEmpty() ? QStringLiteral("MakePass.ksh") : blocker)) << e.what();
            EXPECT_TRUE(message.contains("no file was replaced")) << e.what();
        }
        for (const QString& name : names) {
            if (name != blocker) {
                EXPECT_EQ(read(name), old[name]) << name.toStdString();
            }
        }
        EXPECT_EQ(allFiles(), names); // no temporary left
        if (!blocker.isEmpty()) {
            ASSERT_TRUE(QDir(dir.path()).rmdir(blocker));
            put(blocker, old[blocker]);
        }
    }
}

// A run killed between its renames left temporaries, one with every
// password: the next run removes them, and only them.
TEST_F(Accounts, TemporariesOfAKilledRunGoAndTheVendorsFilesStay)
{
    const std::pair<const char*, QByteArray> files[] = {
        {"MakePass.ksh.ordergate-Ab12Cd", "htpasswd -bc .htpasswd a@x 1"},
        {"accounts_Tool.txt.ordergate-Ab12Cd~", "a@x\t1"},
        {"email_Tool.txt.ordergate-x1y2z3", "a@x , 1"},
        {"accounts_Tool.txt.Q1w2E3", "# accounts of Tool: address, password"}, // an earlier version's
        {"MakePass.ksh.Q1w2E3~", "echo batch file for product: Tool"},
        {"email_Tool.txt.backup", "the vendor's"}, // stays: not ours to judge
        {"MakePass.ksh.zzzzzz", "the vendor's"},
    };
    for (const auto& [name, bytes] : files)
        put(name, bytes);
    run(swreg("1", "a@x"), MissingAccounts::Drop, "R1");
    EXPECT_EQ(allFiles(),
        (QStringList {"MakePass.ksh", "MakePass.ksh.zzzzzz", "accounts_Tool.txt", "changes_Tool.txt", "email_Tool.txt",
            "email_Tool.txt.backup", "email_Tool_new.txt", "ordergate.ini"}));
}

} // namespace

// Every byte counts, the last ones of a short text too (a hash that skipped
// the tail would put whole shops of similar addresses in one slot).
TEST(BytesHash, EachByteAndTheLengthChangeTheHash)
{
    std::set<uint64_t> seen;
    for (int length = 0; length <= 40; ++length) {
        const QByteArray text(length, 'a');
        EXPECT_TRUE(seen.insert(hashBytes(text)).second) << length;
        for (int at = 0; at < length; ++at) {
            QByteArray other = text;
            other[at] = 'b';
            EXPECT_TRUE(seen.insert(hashBytes(other)).second) << length << " " << at;
        }
    }
    EXPECT_EQ(hashBytes("same"), hashBytes(QByteArray("same")));
}

TEST_F(Accounts, ALedgerReadInPartsIsTheLedgerReadWhole)
{
    // the parts are a MiB each: the line the boundary falls in ends in its
    // LF (the CR before it in the earlier part), in its CR, or in a value
    const QByteArray header = AccountLedger::headerLine(QStringLiteral("Tool")) + "\r\n";
    const auto line = [](int i) {
        return QByteArray("c%1@x\t%2\tR1\tR2\r\n")
            .replace("%1", QByteArray::number(100000 + i))
            .replace("%2", QByteArray::number(i % 97));
    };
    const qsizetype length = line(0).size();
    for (const qsizetype at : {length - 1, length - 2, qsizetype(3)}) {
        const qsizetype before = header.size() + 3 + 2; // BOM, "#", CR LF
        const qsizetype filler = ((qsizetype(1) << 20) - before - at) % length;
        QByteArray text = header + "#" + QByteArray(filler, 'f') + "\r\n";
        const int accounts = 1100000 / int(length);
        for (int i = 0; i < accounts; ++i)
            text += line(i);
        text += AccountLedger::countLine(accounts) + "\r\n";
        put("accounts_Tool.txt", "\xEF\xBB\xBF" + text);
        AccountLedger whole, parts;
        whole.parse(text);
        QString error;
        ASSERT_TRUE(parts.load(folder(), QStringLiteral("Tool"), false, &error)) << error.toStdString();
        EXPECT_EQ(parts.distrust(), QString()) << at;
        ASSERT_EQ(parts.accounts().size(), whole.accounts().size()) << at;
        for (size_t k = 0; k < whole.accounts().size(); ++k) {
            ASSERT_EQ(parts.accounts()[k].user, whole.accounts()[k].user) << at << " " << k;
            ASSERT_EQ(parts.accounts()[k].password, whole.accounts()[k].password) << at << " " << k;
        }
        put("accounts_Tool.txt", text.chopped(2)); // its count's line end cut
        ASSERT_TRUE(parts.load(folder(), QStringLiteral("Tool"), false, &error));
        EXPECT_EQ(parts.distrust(), AccountLedger::distrust(text.chopped(2), QStringLiteral("Tool")));
        EXPECT_FALSE(parts.distrust().isEmpty());
    }
}

TEST(AccountCompare, TwoCoresFindWhatOneFinds)
{
    // Big enough for a second core: a quarter of the ledger is missing from
    // the run, a few of the run's customers are new, every tenth password changed,
    // every seventh customer ordered twice (the later password counts).
    constexpr int kLedger = 120000, kFrom = kLedger / 4, kTo = kLedger + kLedger / 20;
    const auto user = [](int i) { return QByteArray("c") + QByteArray::number(i) + "@x"; };
    QByteArray text = AccountLedger::headerLine(QStringLiteral("Tool")) + "\r\n";
    for (int i = 0; i < kLedger; ++i)
        text += user(i) + "\tp" + QByteArray::number(i) + "\tR1\tR1\r\n";
    text += AccountLedger::countLine(kLedger) + "\r\n";
    AccountLedger ledger;
    ledger.parse(text);
    std::deque<QByteArray> values;
    RunAccounts run;
    const auto add = [&](int i, const QByteArray& password) {
        run.add(values.emplace_back(user(i)), values.emplace_back(password));
    };
    for (int i = kFrom; i < kTo; ++i) {
        if (i % 7 == 0)
            add(i, "first");
        add(i, (i % 10 ? "p" : "q") + QByteArray::number(i));
    }
    const CustomerLists lists;
    const AccountChanges one(ledger, run, lists, false, false), two(ledger, run, lists, false, true);
    const AccountChangeCounts counts = two.counts();
    EXPECT_EQ(counts.added, kTo - kLedger);
    EXPECT_EQ(counts.removed, kFrom);
    EXPECT_EQ(counts.changed, (kLedger - kFrom) / 10);
    EXPECT_EQ(counts.kept, kLedger - kFrom - counts.changed);
    for (qsizetype i = 0; i < run.size(); ++i)
        ASSERT_EQ(one.isNew(i), two.isNew(i)) << i;
    QByteArray reports[2];
    for (const int k : {0, 1}) {
        QBuffer device(&reports[k]);
        device.open(QIODevice::WriteOnly);
        ASSERT_TRUE((k ? two : one).writeReport(device, QStringLiteral("Tool"), QStringLiteral("R2")));
    }
    EXPECT_EQ(reports[0], reports[1]);
}
