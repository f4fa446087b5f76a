// What a server hands a publish, from any bytes: its .htpasswd (every
// account read once, and what is written of them reads back as the same
// users) and its answer to a rename (a status is read only from a whole
// packet of its own id).

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "publish/HtpasswdFile.h"
#include "publish/PosixRename.h"

#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<og::HtpasswdLine> lines = og::parseHtpasswd(bytes);
    QSet<QByteArray> users;
    for (const og::HtpasswdLine& line : lines) {
        OG_FUZZ_CHECK(!line.user.contains(':') && !line.user.contains('\n') && !line.hash.contains(':'));
        OG_FUZZ_CHECK(!users.contains(line.user));
        users.insert(line.user);
    }
    const std::vector<og::HtpasswdLine> again = og::parseHtpasswd(og::writeHtpasswd(lines));
    OG_FUZZ_CHECK(again.size() == lines.size());
    for (size_t i = 0; i < again.size(); ++i)
        OG_FUZZ_CHECK(again[i].user == lines[i].user);

    if (const auto status = og::parseStatusReply(bytes, 7)) {
        OG_FUZZ_CHECK(size >= 9 && data[0] == 101);
        OG_FUZZ_CHECK(status->message.isEmpty() || status->message.size() <= qsizetype(size) - 13);
    }
    return 0;
}
