#pragma once
// The pass of a run over the report's orders, and the writer of the batch
// file's password lines. Used by ScriptRun.

#include "orders/CustomerLists.h"
#include "orders/LineBlock.h"
#include "orders/Options.h"
#include "orders/Report.h"

#include <QIODevice>
#include <vector>

namespace og {

class ScriptWriter {
public:
    static constexpr qsizetype kChunk = 4 << 20;

    // With a sink, the lines go out to it every few megabytes instead of
    // staying in script. createsFile: the next password line is the file's
    // first and creates .htpasswd anew.
    ScriptWriter(LineBlock& script, QIODevice* sink, bool createsFile = true)
        : script_(script),
          sink_(sink),
          first_(createsFile)
    {
    }

    void passwordLine(QByteArrayView user, QByteArrayView password);
    void flush();
    bool failed() const { return failed_; }
    bool wrotePasswordLine() const { return wrote_; }

private:
    LineBlock& script_;
    QIODevice* sink_;
    bool first_;
    bool wrote_ = false;
    bool failed_ = false;
};

struct OrderPassInput {
    const Report* report;
    const CustomerLists* lists;
    const Options* options;
    bool allProducts;
    int product; // index into the report's products when !allProducts
};

struct OrderPassOutput {
    LineBlock addresses; // unsorted
    qint64 written = 0, blocked = 0, updated = 0;
    // per goodguys.txt entry: a report order wrote its address
    std::vector<char> admittedWritten;
};

// The orders among report lines [from, to): their password lines go to
// writer, their address lines and counts to out.
void passOrders(const OrderPassInput& in, qsizetype from, qsizetype to, ScriptWriter& writer, OrderPassOutput& out);

} // namespace og
