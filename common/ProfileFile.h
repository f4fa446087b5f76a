#pragma once
// The settings file: a Windows-style profile (INI) file read and written with
// the rules of the old Windows profile API, so that files written by the old
// program keep working and files written here stay readable there.

#include <QHash>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace og {

// A write that did not reach the disk. what() is "Unable to write to " + path,
// then ": " and the system's reason when there is one (UTF-8).
class ProfileWriteError : public std::runtime_error {
public:
    explicit ProfileWriteError(const QString& path, const QString& reason = {});
    QString path() const { return path_; }

private:
    QString path_;
};

// Each call opens the file for one read or one write, like the profile API.
class ProfileFile {
public:
    // Text values are cut to this many characters when read.
    static constexpr int MaxValueLength = 1023;

    static bool exists(const QString& path);
    static QString readString(
        const QString& path, const QString& section, const QString& key, const QString& defaultValue);
    static bool readBool(const QString& path, const QString& section, const QString& key, bool defaultValue);
    // Throw ProfileWriteError. Every other section, key and line of the file
    // is kept as it was, line ends included; a missing file or section is
    // created. The new file replaces the old one only once it is completely
    // written, so a failed write (a full disk) leaves the old one whole.
    static void writeString(const QString& path, const QString& section, const QString& key, const QString& value);
    static void writeBool(const QString& path, const QString& section, const QString& key, bool value);

    // The Boolean reading rule on its own: a whole number (optionally signed,
    // "0x" for hexadecimal) other than 0 is on, 0 is off, anything else gives
    // the default.
    static bool parseBool(const QString& value, bool defaultValue);
};

// Loads the file once and answers many reads, for loading a window's keys in
// one opening. A missing or unreadable file answers every read with its
// default.
class ProfileReader {
public:
    explicit ProfileReader(const QString& path);

    bool fileExists() const { return exists_; }
    bool hasKey(const QString& section, const QString& key) const;
    // The section names in the order of the file, each once (the first
    // spelling of names equal ignoring case).
    const QStringList& sections() const { return sections_; }
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;

private:
    bool exists_ = false;
    // case-folded "section\nkey" -> value; first occurrence wins
    QHash<QString, QString> values_;
    QStringList sections_;
};

} // namespace og
