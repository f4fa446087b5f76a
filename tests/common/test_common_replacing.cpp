// The file that replaces another once it is completely written.

#include "common/ReplacingFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace og;

namespace {

// Writes big and small go out whole and in order, a big one split over
// several system calls: the batch file and the ledger of a large run are
// tens of megabytes.
TEST(ReplacingFile, PutsEveryByteInPlaceWhateverTheWriteSizes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("accounts.txt");
    QByteArray big((qsizetype(3) << 20) + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char('a' + i * 7 % 26);
    const QByteArray expected = "head\r\n" + big + "tail";

    ReplacingFile file(path);
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.device().write("head\r\n"), 6);
    EXPECT_EQ(file.device().write(big), big.size());
    EXPECT_EQ(file.device().write("tail"), 4);
    ASSERT_TRUE(file.commit()) << file.errorString().toStdString();

    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll() == expected);
}

} // namespace
