// The first job from any report: intake (store, order lines, products) and
// the order pass for the first product and for all of them, with the
// example lists. Every line of the batch and address files stays one line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QFile>
#include <QString>

#include "common/TextFiles.h"
#include "fuzz/FuzzCheck.h"
#include "orders/CustomerLists.h"
#include "orders/Report.h"
#include "orders/ScriptRun.h"

namespace {


QString Example(const char* name)
{
    QFile file(QStringLiteral(OG_EXAMPLES_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? og::decodeText(file.readAll()) : QString();
}

void CheckLines(const og::LineBlock& block)
{
    for (qsizetype i = 0; i < block.size(); ++i)
        OG_FUZZ_CHECK(!block.bytesAt(i).contains('\r') && !block.bytesAt(i).contains('\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const og::CustomerLists lists = [] {
        og::CustomerLists l;
        l.loadTexts(Example("bozos.txt"), Example("Address.txt"), Example("goodguys.txt"));
        return l;
    }();
    og::Report report;
    report.readBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const QStringList products = report.products();
    if (products.isEmpty())
        return 0;
    og::RunRequest request;
    request.report = &report;
    request.lists = &lists;
    request.folder = QStringLiteral("/nonexistent/");
    for (bool all : {true, false}) {
        if (!all && products.size() < 2)
            continue;
        request.allProducts = all;
        request.selectedProduct = all ? products.first() : products.last();
        request.options.orderDate = size & 1;
        request.options.names = size & 2;
        const og::RunResult result = og::buildRun(request);
        CheckLines(result.script);
        CheckLines(result.addresses);
        OG_FUZZ_CHECK(result.written >= 0 && result.addresses.size() >= result.written);
    }
    return 0;
}
