// The stores' own exports: each sample of examples/ is recognised as its
// store, its refunds, failed payments and lost disputes are excluded with
// their reason, and every customer gets one address line.

#include "orders/ReportLayout.h"
#include "orders/ScriptRun.h"

#include <QFile>
#include <QSet>
#include <gtest/gtest.h>
#include <map>

using namespace og;

namespace {

QByteArray readExample(const QString& name)
{
    QFile file(QStringLiteral(OG_EXAMPLES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct StoreSample {
    const char* file;
    const char* store;
    const char* adjustments;                     // a second report, or null
    std::map<std::string, std::string> excluded; // order number -> reason
    QStringList doNotContact;
};

TEST(StoreSamples, AreRecognisedAndExcludeWhatTheStoreTookBack)
{
    const StoreSample samples[] = {
        {"gumroad-report.csv", "Gumroad", nullptr,
            {{"gum-1004", "refunded (Fully Refunded? = true)"}, {"gum-1008", "disputed, not won (Disputed? = true)"}},
            {"Carol@Example.com"}},
        {"shopify-orders.csv", "Shopify", nullptr,
            {{"#1003", "refunded or voided (Financial Status = refunded)"},
                {"#1004", "refunded or voided (Financial Status = voided)"},
                {"#1006", "fully refunded (Refunded Amount = Total)"}},
            {}},
        {"paddle-transactions.csv", "Paddle", "paddle-adjustments.csv",
            {{"txn_01hvtool0000000000000000d4", "refund (Paddle adjustments)"},
                {"txn_01hvtool0000000000000000e5", "not paid (status = past_due)"},
                {"txn_01hvtool0000000000000000f6", "not paid (status = canceled)"},
                {"txn_01hvtool0000000000000000i9", "chargeback (Paddle adjustments)"}},
            {}},
        {"lemonsqueezy-orders.csv", "Lemon Squeezy", nullptr,
            {{"1003", "not paid or refunded (status = refunded)"}, {"1004", "not paid or refunded (status = failed)"},
                {"1008", "not paid or refunded (status = pending)"}},
            {}},
        {"edd-payments.csv", "Easy Digital Downloads", nullptr,
            {{"EDD-1003", "not complete (Status = refunded)"}, {"EDD-1004", "not complete (Status = failed)"},
                {"EDD-1005", "test payment (Mode (Live|Test) = test)"},
                {"EDD-1007", "not complete (Status = abandoned)"}},
            {}},
        {"stripe-payments.csv", "Stripe", nullptr,
            {{"ch_3PtoolA0000000003", "refunded or failed (Status = refunded)"},
                {"ch_3PtoolA0000000004", "refunded or failed (Status = failed)"},
                {"ch_3PtoolA0000000005", "dispute lost (Dispute Status = lost)"},
                {"ch_3PtoolA0000000008", "fully refunded (Amount Refunded = Amount)"}},
            {}},
        {"polar-orders.csv", "Polar", nullptr,
            {{"POLAR-7A1B-0003", "not paid or refunded (Status = refunded)"},
                {"POLAR-7A1B-0005", "not paid or refunded (Status = pending)"},
                {"POLAR-7A1B-0008", "fully refunded (Refunded Amount = Total)"}},
            {}},
    };
    for (const StoreSample& sample : samples) {
        SCOPED_TRACE(sample.file);
        Report report;
        ReportReading reading;
        if (sample.adjustments) {
            QString problem;
            reading.adjustments = readAdjustments(readExample(sample.adjustments), &problem);
            ASSERT_TRUE(reading.adjustments) << problem.toStdString();
        }
        report.setReading(std::move(reading));
        report.readBytes(readExample(sample.file));
        EXPECT_EQ(report.storeName(), sample.store);

        std::map<std::string, std::string> excluded;
        for (const ExcludedLine& e : report.firstExcludedLines())
            excluded[report.orderNumberOf(e.line).toStdString()] =
                report.excludedRows()[size_t(e.reason)].reason.toStdString();
        EXPECT_EQ(excluded, sample.excluded);
        EXPECT_EQ(report.doNotContactAddresses(), sample.doNotContact);

        RunRequest request;
        request.report = &report;
        request.selectedProduct = report.products().value(0);
        request.allProducts = report.products().size() > 1;
        request.folder = QStringLiteral("/nonexistent/");
        const RunResult result = buildRun(request);
        QSet<QString> customers;
        for (qsizetype i = 0; i < result.addresses.size(); ++i) {
            const QString address = result.addresses.at(i).section(u' ', 0, 0);
            EXPECT_FALSE(customers.contains(address)) << "two address lines for " << address.toStdString();
            customers.insert(address);
        }
        EXPECT_GE(customers.size(), 3);
    }
}

// Amounts as the stores write them, for the rule "refunded the whole amount".
TEST(StoreSamples, AmountsReadAsStoresWriteThem)
{
    const std::pair<const char*, double> cases[] = {{"19.95", 19.95}, {"1,234.50", 1234.5}, {"12,50", 12.5},
        {"1.234,50", 1234.5}, {"$ 9.99", 9.99}, {"1995", 1995}, {"-3.00", -3}, {"", 0}, {"n/a", 0}, {"1,000", 1000}};
    for (const auto& [text, amount] : cases)
        EXPECT_DOUBLE_EQ(amountOf(text), amount) << text;
}

} // namespace

TEST(StoreSamples, ABigExportReadOnTwoCoresReadsAsItsRowsDo)
{
    // The sample's rows many times over, after its first three rows: the
    // two halves meet at an item row, which stays with its order.
    Report one;
    one.readBytes(readExample("shopify-orders.csv"));
    const QByteArray sample = one.text().toByteArray();
    const auto start = [&](qsizetype row) { return one.lineBytes(row).data() - one.text().data(); };
    const qsizetype rows = one.lineCount() - 1;
    ASSERT_EQ(rows, 7);
    const QByteArray body = sample.mid(start(1));
    constexpr int kTimes = 15001; // odd: the middle row is an item row
    QByteArray text = sample.first(start(1)) + body.first(start(4) - start(1));
    for (int k = 0; k < kTimes; ++k)
        text += body;
    Report big;
    big.readBytes(text);
    ASSERT_EQ(big.lineCount(), 4 + rows * kTimes);
    for (qsizetype i = 1; i < big.lineCount(); ++i) {
        const qsizetype s = i < 4 ? i : (i - 4) % rows + 1;
        ASSERT_EQ(big.productIndexOf(i), one.productIndexOf(s)) << i;
        ASSERT_EQ(big.orderFieldsLine(i) - i, one.orderFieldsLine(s) - s) << i;
    }
    EXPECT_EQ(big.excludedCount(), one.excludedCount() * kTimes);
    EXPECT_EQ(big.skippedLineCount(), one.skippedLineCount() * kTimes);
    EXPECT_EQ(big.excludedRows().size(), one.excludedRows().size());
    ASSERT_EQ(qsizetype(big.firstExcludedLines().size()), Report::kExcludedKept);
    EXPECT_EQ(big.firstExcludedLines()[3].line, one.firstExcludedLines()[0].line + 3 + rows);
}
