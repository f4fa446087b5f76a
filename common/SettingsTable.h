#pragma once
// A settings structure's keys in the settings file as one table: each row
// names a key and the member it holds; one reader and one writer go through
// the table in its order, so a key is spelled once and the file's keys keep
// the order they were always written in. The first job's options and the
// mailer's settings both keep theirs this way.
//
// A member is text, a switch (ProfileFile's "1"/"0"), a whole number, or an
// enumeration spelled as a word: for those, the enumeration's namespace
// declares `bool parseSettingWord(const QString&, E*)` and
// `QString settingWord(E)` (usually through common/WordTable.h).

#include "common/ProfileFile.h"
#include "common/Trim.h"

#include <QLatin1String>
#include <QString>

#include <cstddef>
#include <type_traits>
#include <variant>

namespace og {

// Where a key lives, for a key that is read or written on its own.
struct SettingName {
    const char* section;
    const char* name;
};

// [options] efile: the full path of the address file last made by the first
// job (or last used by the mailer).
inline constexpr SettingName AddressFileSetting = {"options", "efile"};

template <typename S, typename... Words>
struct SettingKey {
    SettingName key;
    std::variant<QString S::*, bool S::*, int S::*, Words S::*...> member;
    // A file without the key gives the default value instead of keeping the
    // value loaded over.
    bool reset = false;
    // The smallest whole number the key takes; a smaller one or no number
    // keeps the fallback.
    int least = 1;
};

// Reads one key into s. A missing key, a number below the key's least or
// an unknown word gives the fallback: defaults' value for a reset key, else
// s's own.
template <typename S, typename... Words>
void readSetting(const ProfileReader& file, const SettingKey<S, Words...>& key, S& s, const S& defaults)
{
    const QString section = QLatin1String(key.key.section), name = QLatin1String(key.key.name);
    std::visit(
        [&](auto member) {
            auto& value = s.*member;
            const auto fallback = key.reset ? defaults.*member : value;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>) {
                value = file.readString(section, name, fallback);
            } else if constexpr (std::is_same_v<T, bool>) {
                value = file.readBool(section, name, fallback);
            } else {
                value = fallback;
                if (!file.hasKey(section, name))
                    return;
                const QString text = trimmed(file.readString(section, name, QString()));
                if constexpr (std::is_same_v<T, int>) {
                    bool ok = false;
                    const int number = text.toInt(&ok);
                    if (ok && number >= key.least)
                        value = number;
                } else if (!parseSettingWord(text, &value)) {
                    value = fallback;
                }
            }
        },
        key.member);
}

// Writes one key of s. Throws ProfileWriteError.
template <typename S, typename... Words>
void writeSetting(const QString& path, const SettingKey<S, Words...>& key, const S& s)
{
    const QString section = QLatin1String(key.key.section), name = QLatin1String(key.key.name);
    std::visit(
        [&](auto member) {
            const auto& value = s.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>)
                ProfileFile::writeString(path, section, name, value);
            else if constexpr (std::is_same_v<T, bool>)
                ProfileFile::writeBool(path, section, name, value);
            else if constexpr (std::is_same_v<T, int>)
                ProfileFile::writeString(path, section, name, QString::number(value));
            else
                ProfileFile::writeString(path, section, name, settingWord(value));
        },
        key.member);
}

// Every key of the table, in its order.
template <typename S, typename... Words, std::size_t N>
void readSettings(const ProfileReader& file, const SettingKey<S, Words...> (&table)[N], S& s, const S& defaults)
{
    for (const auto& key : table)
        readSetting(file, key, s, defaults);
}

// Every key of the table, in its order. Throws ProfileWriteError; the keys
// after the failing one are then not written.
template <typename S, typename... Words, std::size_t N>
void writeSettings(const QString& path, const SettingKey<S, Words...> (&table)[N], const S& s)
{
    for (const auto& key : table)
        writeSetting(path, key, s);
}

} // namespace og
