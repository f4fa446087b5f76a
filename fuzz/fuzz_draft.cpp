// A kept message (draft.txt) from any bytes: reading never fails, and what
// is read, written and read again is stable: the writer's text reads back
// as the draft it was written from.

#include <cstddef>
#include <cstdint>

#include <QByteArrayView>

#include "fuzz/FuzzCheck.h"
#include "mailer/MessageDraft.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const og::MessageDraft read =
        og::MessageDraft::fromText(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    // A subject or an attachment with a line break in it is written on one
    // line; from then on the draft reads back as written.
    const og::MessageDraft written = og::MessageDraft::fromText(read.toText());
    OG_FUZZ_CHECK(og::MessageDraft::fromText(written.toText()) == written);
    OG_FUZZ_CHECK(written.body == read.body);
    OG_FUZZ_CHECK(written.format == read.format);
    OG_FUZZ_CHECK(written.attachments.size() == read.attachments.size());
    return 0;
}
