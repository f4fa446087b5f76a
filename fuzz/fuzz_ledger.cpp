// The account ledger (accounts_<product>.txt) and the address file read in
// its place, from any bytes: every account read is found again, and what
// the ledger writes reads back as the same accounts; no account breaks the
// rule of account values, and a refused line's user is in no account.

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "orders/AccountLedger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char*>(data), qsizetype(size));
    // whatever the bytes, the judgement of a ledger's trust ends
    (void)og::AccountLedger::distrust(text, QStringLiteral("Tool"));
    og::AccountLedger ledger;
    ledger.parse(text);
    og::LineBlock written;
    for (size_t i = 0; i < ledger.accounts().size(); ++i) {
        const og::LedgerAccount& account = ledger.accounts()[i];
        OG_FUZZ_CHECK(ledger.find(account.user) == qsizetype(i));
        // no value that breaks the rule of account values reaches a run
        OG_FUZZ_CHECK(og::accountValueFault(account.user, account.password) == og::AccountValueFault::None);
        og::AccountLedger::appendLine(written, account);
    }
    og::AccountLedger again;
    again.parse(written.fileBytes());
    OG_FUZZ_CHECK(again.accounts().size() == ledger.accounts().size());
    for (size_t i = 0; i < again.accounts().size(); ++i) {
        OG_FUZZ_CHECK(again.accounts()[i].user == ledger.accounts()[i].user);
        OG_FUZZ_CHECK(again.accounts()[i].password == ledger.accounts()[i].password);
    }

    for (const og::AccountLedger::RefusedLine& refused : ledger.refusedLines())
        OG_FUZZ_CHECK(ledger.find(refused.user) < 0);

    og::AccountLedger fromAddresses;
    fromAddresses.parseAddressFile(text, true);
    for (size_t i = 0; i < fromAddresses.accounts().size(); ++i)
        OG_FUZZ_CHECK(fromAddresses.find(fromAddresses.accounts()[i].user) == qsizetype(i));
    return 0;
}
