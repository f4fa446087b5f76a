// The platform layer's pure parts (filters, message texts, the standard
// error box rule), version strings, help pages and the scripted platform
// that every window test relies on.

#include "platform/QtPlatform.h"
#include "platform/VendorLinks.h"
#include "platform/Version.h"
#include "tests/support/ScriptedPlatform.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace og;
using Call = ScriptedPlatform::Call;

namespace {
std::string s(const QString& text)
{
    return text.toStdString();
}
} // namespace

TEST(StandardErrorBox, AppendsAStopOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(
        s(Platform::standardErrorText("Unable to write to /x/ordergate.ini")), "Unable to write to /x/ordergate.ini.");
    EXPECT_EQ(s(Platform::standardErrorText("Connection refused.")), "Connection refused.");
    EXPECT_EQ(s(Platform::standardErrorText("Stopped!")), "Stopped!"); // '!' sorts below '.'
    EXPECT_EQ(s(Platform::standardErrorText("code 42")), "code 42.");  // digits sort above
    EXPECT_EQ(s(Platform::standardErrorText("")), "");

    ScriptedPlatform platform;
    platform.showException(nullptr, "Disk full");
    EXPECT_EQ(platform.texts(Call::Error), QStringList {"Disk full."});
}

TEST(QtPlatformTexts, FiltersBecomeQtFilters)
{
    EXPECT_EQ(s(QtPlatform::qtFilter("Text files|*.txt|All files|*.*")), "Text files (*.txt);;All files (*.*)");
    EXPECT_EQ(s(QtPlatform::qtFilter("Pictures|*.png;*.jpg")), "Pictures (*.png *.jpg)");
    // A label that already shows its pattern is not repeated.
    EXPECT_EQ(s(QtPlatform::qtFilter("Text (*.txt)|*.txt")), "Text (*.txt)");
    EXPECT_EQ(s(QtPlatform::qtFilter("Odd|")), "Odd ()");
    EXPECT_EQ(s(QtPlatform::qtFilter("")), "");
}

TEST(QtPlatformTexts, CarriageReturnsBreakLines)
{
    EXPECT_EQ(s(QtPlatform::messageText("No records processed\rDid you copy?")), "No records processed\nDid you copy?");
    EXPECT_EQ(s(QtPlatform::messageText("a\r\nb\rc\nd")), "a\nb\nc\nd");
}

TEST(VersionStrings, AnswerTheKnownKeysOnly)
{
    EXPECT_EQ(s(VersionString("ProductName")), "Ordergate");
    for (const char* key : {"FileDescription", "CompanyName", "Comments"})
        EXPECT_FALSE(VersionString(key).isEmpty()) << key;
    EXPECT_TRUE(VersionString("ProductVersion").contains(QRegularExpression("^\\d+\\.\\d+\\.\\d+$")));
    EXPECT_TRUE(VersionString("LegalCopyright").isEmpty());
    EXPECT_TRUE(VersionString("productname").isEmpty());
}

TEST(HelpPage, OpensTheLocalPageWithItsFragmentOrElseTheHomePage)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    ScriptedPlatform platform;
    OpenHelpPage(platform, "index.html#send", folder);
    QFile page(folder + "index.html");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.close();
    OpenHelpPage(platform, "index.html#send", folder);
    OpenHelpPage(platform, "index.html", folder);
    OpenHelpPage(platform, "other.html#x", folder);
    const QStringList urls = platform.texts(Call::OpenUrl);
    ASSERT_EQ(urls.size(), 4);
    const QString home = QString::fromUtf8(VendorLinks::HomePageBase);
    EXPECT_TRUE(home.endsWith('/'));
    EXPECT_EQ(s(urls[0]), s(home + "index.html#send"));
    EXPECT_EQ(s(urls[1]), s("file://" + folder + "index.html#send"));
    EXPECT_EQ(s(urls[2]), s("file://" + folder + "index.html"));
    EXPECT_EQ(s(urls[3]), s(home + "other.html#x"));
}

TEST(ScriptedPlatform, AnswersFromItsQueuesAndRecordsEveryCall)
{
    ScriptedPlatform platform;
    QStringList faults;
    platform.setFailureHandler([&](const QString& m) { faults << m; });
    platform.queueConfirm(true);
    platform.queueConfirm(false);
    platform.queueFileName("/tmp/a.txt");
    platform.queueFileNames({"/tmp/b", "/tmp/c"});
    platform.setClipboardText("report");

    EXPECT_TRUE(platform.confirm(nullptr, "First?"));
    EXPECT_FALSE(platform.confirm(nullptr, "Second?"));
    EXPECT_EQ(s(platform.openFileName(nullptr, {"Pick", "Text|*.txt"})), "/tmp/a.txt");
    EXPECT_EQ(platform.openFileNames(nullptr, {"Pick many", ""}), (QStringList {"/tmp/b", "/tmp/c"}));
    EXPECT_EQ(s(platform.clipboardText()), "report");
    EXPECT_EQ(s(platform.clipboardText()), "report");
    platform.showError(nullptr, "bad");
    platform.showInformation(nullptr, "info");
    platform.openUrl("https://example.com/");
    platform.openFile("/tmp/a.txt");

    EXPECT_TRUE(faults.isEmpty());
    EXPECT_TRUE(platform.verifyAllUsed());
    ASSERT_EQ(platform.calls().size(), 10);
    EXPECT_EQ(platform.calls()[2].kind, Call::OpenFileName);
    EXPECT_EQ(s(platform.calls()[2].text), "Pick");
    EXPECT_EQ(s(platform.calls()[2].filter), "Text|*.txt");
    EXPECT_EQ(platform.texts(Call::Confirm), (QStringList {"First?", "Second?"}));
    EXPECT_EQ(platform.count(Call::Clipboard), 2);
    EXPECT_EQ(platform.texts(Call::OpenFile), QStringList {"/tmp/a.txt"});
}

TEST(ScriptedPlatform, UnscriptedCallsAndLeftoversAreFaults)
{
    ScriptedPlatform platform;
    QStringList faults;
    platform.setFailureHandler([&](const QString& m) { faults << m; });

    EXPECT_FALSE(platform.confirm(nullptr, "Save changes to properties?"));
    EXPECT_TRUE(platform.openFileName(nullptr, {"Attach", ""}).isEmpty());
    EXPECT_TRUE(platform.openFileNames(nullptr, {"Attach many", ""}).isEmpty());
    EXPECT_TRUE(platform.clipboardText().isEmpty());
    ASSERT_EQ(faults.size(), 4);
    EXPECT_TRUE(faults[0].contains("Save changes to properties?"));
    EXPECT_TRUE(faults[1].contains("Attach"));
    EXPECT_TRUE(faults[3].contains("clipboard"));
    // The unscripted calls are recorded all the same.
    EXPECT_EQ(platform.calls().size(), 4);

    platform.queueConfirm(true);
    platform.queueFileName("x");
    EXPECT_EQ(platform.unusedAnswers().size(), 2);
    EXPECT_FALSE(platform.verifyAllUsed());
    EXPECT_EQ(faults.size(), 5);

    platform.setClipboardText("");
    platform.clearClipboard();
    platform.clipboardText();
    EXPECT_EQ(faults.size(), 6);
}

TEST(ScriptedPlatform, ObserverSeesEachCallAfterItIsRecorded)
{
    ScriptedPlatform platform;
    QList<qsizetype> seen;
    platform.setObserver([&](const Call&) { seen << platform.calls().size(); });
    platform.showError(nullptr, "one");
    platform.openUrl("two");
    EXPECT_EQ(seen, (QList<qsizetype> {1, 2}));
}
