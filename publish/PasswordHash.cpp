#include "publish/PasswordHash.h"

#include "publish/PublishError.h"

#include <QRandomGenerator>

#include <apr_md5.h>
#include <crypt.h>

#include <memory>

namespace og {

namespace {

constexpr char kApr1[] = "$apr1$";

// htpasswd's salt alphabet: eight characters for MD5.
QByteArray md5Salt()
{
    static constexpr char alphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QByteArray salt(kApr1);
    for (int i = 0; i < 8; ++i)
        salt += alphabet[QRandomGenerator::system()->bounded(64)];
    return salt;
}

// crypt_r's work area is 32 KB: on the heap, one per call (calls run on
// several threads at once).
QByteArray cryptWith(QByteArrayView password, const char* setting)
{
    auto data = std::make_unique<crypt_data>();
    const QByteArray phrase = password.toByteArray();
    const char* out = crypt_r(phrase.constData(), setting, data.get());
    // libcrypt answers a failure with a string starting with "*"
    if (!out || out[0] == '*')
        return {};
    return QByteArray(out);
}

bool sameBytes(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

QByteArray makeHash(HashKind kind, QByteArrayView password)
{
    if (password.contains('\0'))
        throw PublishError(QStringLiteral("A password holds a NUL byte; no hash can be made of it"));
    if (kind == HashKind::Md5) {
        char out[120];
        const QByteArray phrase = password.toByteArray();
        if (apr_md5_encode(phrase.constData(), md5Salt().constData(), out, sizeof out) != 0)
            throw PublishError(QStringLiteral("APR could not make an MD5 password hash"));
        return QByteArray(out);
    }
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    const char* prefix = kind == HashKind::Bcrypt ? "$2y$" : "$6$";
    // No random bytes given: libcrypt takes them from the system.
    if (!crypt_gensalt_rn(prefix, kind == HashKind::Bcrypt ? kBcryptCost : 0, nullptr, 0, setting, sizeof setting))
        throw PublishError(QStringLiteral("libcrypt could not make a salt for %1").arg(wordOf(kHashWords, kind)));
    QByteArray hash = cryptWith(password, setting);
    if (hash.isEmpty())
        throw PublishError(QStringLiteral("libcrypt could not make a %1 password hash").arg(wordOf(kHashWords, kind)));
    return hash;
}

std::optional<HashKind> hashKindOf(QByteArrayView hash)
{
    if (hash.startsWith(kApr1))
        return HashKind::Md5;
    if (hash.startsWith("$2y$") || hash.startsWith("$2b$") || hash.startsWith("$2a$"))
        return HashKind::Bcrypt;
    if (hash.startsWith("$6$"))
        return HashKind::Sha512;
    return std::nullopt;
}

bool hashMatches(QByteArrayView hash, QByteArrayView password)
{
    const std::optional<HashKind> kind = hashKindOf(hash);
    if (!kind || password.contains('\0'))
        return false;
    if (*kind == HashKind::Md5) {
        // apr_md5_encode with the stored hash as its salt gives the stored
        // hash again for the right password.
        char out[120];
        const QByteArray phrase = password.toByteArray(), salt = hash.toByteArray();
        return apr_md5_encode(phrase.constData(), salt.constData(), out, sizeof out) == 0 &&
            sameBytes(QByteArrayView(out), hash);
    }
    const QByteArray setting = hash.toByteArray();
    return sameBytes(cryptWith(password, setting.constData()), hash);
}

} // namespace og
