// A message in the vendor's mailbox whose every byte comes from the fuzzer:
// delivery reports, providers' bounces in words, auto-replies and
// unsubscribe requests are judged (GMime, then our own field and text
// readers). The first byte picks whether the bytes are a message or an IMAP
// server's reply to a FETCH instead. Whatever the bytes, every address a
// verdict names must be one a list may hold.

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "mailbox/DeliveryStatus.h"
#include "mailbox/ImapReply.h"
#include "mailbox/ReturnedMail.h"

namespace {

bool listable(const QString& address)
{
    return address.isEmpty() || og::plainAddress(address) == address;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    if (data[0] & 1) {
        og::ImapReplyReader reader("g7", 8192);
        reader.feed(bytes);
        for (const og::ImapUntagged& response : reader.untagged())
            og::imapItem(response.text, "UID");
        return 0;
    }
    static const og::MailContext context {
        {QStringLiteral("unsubscribe@shop.example")}, {QStringLiteral("sales@shop.example")}};
    const og::MailVerdict verdict = og::judgeMail(bytes, context);
    OG_FUZZ_CHECK(listable(verdict.address));
    for (const og::BouncedRecipient& b : verdict.bounced) {
        // An empty address is a status whose recipient the journals' Message-ID
        // may still tell; anything else must be an address a list can hold.
        OG_FUZZ_CHECK(listable(b.address));
        OG_FUZZ_CHECK(b.address != QLatin1String("sales@shop.example"));
    }
    OG_FUZZ_CHECK(!verdict.originalMessageId.contains(u' ') && !verdict.originalMessageId.contains(u'\n'));
    return 0;
}
