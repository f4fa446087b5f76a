// The intake of a report and nothing else: the file read, its layout
// detected, every row cut into the fields a run takes from an order (order
// number, address, product, first and last name, date; the exclusion column
// is read by the intake itself). bench/orders/run-export sets it beside Python's csv
// module reading the same fields, which is the like-for-like comparison; the
// whole job adds the lists, the batch file and the address file.
//
//   og_bench_intake FILE
//
// Prints the number of orders and the bytes of their fields, so that none of
// the reading can be left out.

#include "orders/MappedFile.h"
#include "orders/Report.h"

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: og_bench_intake FILE\n");
        return 2;
    }
    // read as the command line reads it: mapped
    QString error;
    std::shared_ptr<const og::MappedFile> mapped = og::MappedFile::open(QString::fromLocal8Bit(argv[1]), &error);
    if (!mapped) {
        std::fprintf(stderr, "og_bench_intake: %s\n", qPrintable(error));
        return 1;
    }
    og::Report report;
    report.readMapped(std::move(mapped));

    QByteArray spill[6];
    og::CsvFields lineCut, ownCut;
    qsizetype orders = 0, fieldBytes = 0;
    for (qsizetype i = 0; i < report.lineCount(); ++i) {
        if (!report.isOrderLine(i))
            continue;
        const og::ReportLayout& layout = report.layoutOf(i);
        // as the run reads them: each line cut into its fields once
        layout.cut(lineCut, report.lineBytes(i));
        const qsizetype own = report.orderFieldsLine(i);
        if (own != i)
            layout.cut(ownCut, report.lineBytes(own));
        const og::CsvFields& fields = own == i ? lineCut : ownCut;
        QByteArrayView first, last;
        layout.names(fields, spill[0], spill[1], &first, &last);
        fieldBytes += layout.field(lineCut, layout.order, spill[2]).size() +
            layout.field(lineCut, layout.product, spill[3]).size() + layout.orderAddress(fields, spill[4]).size() +
            layout.orderDate(fields, spill[5]).size() + first.size() + last.size();
        ++orders;
    }
    std::printf("%lld orders, %lld bytes of fields, read as %s\n", static_cast<long long>(orders),
        static_cast<long long>(fieldBytes), qPrintable(report.storeName()));
    return 0;
}
