#pragma once
// Shared by the mail tests: scratch files, reproducible bytes, the system's
// own base64 tool as an independent reference, and a scoped time zone.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace og::test {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "og-mail-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a scratch folder");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `bytes` to a new file in the folder and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + file.string());
        return file.string();
    }

private:
    std::filesystem::path path_;
};

// Reproducible bytes covering every value, so no encoding step can hide
// behind text-only input.
inline std::string PatternBytes(std::size_t size, uint32_t seed = 20031105)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i < 256 ? i : random() & 0xFF);
    return bytes;
}

// Output of Debian's base64 for a file: one line of `width` characters after
// another, each ended with CR LF as on the wire; width 0 gives one unbroken text.
inline std::string SystemBase64(const std::string& file, int width)
{
    const std::string command = "base64 -w" + std::to_string(width) + " '" + file + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return "<base64 tool not available>";
    std::string out;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    ::pclose(pipe);
    std::string crlf;
    for (char c : out) {
        if (c == '\n')
            crlf += "\r\n";
        else
            crlf += c;
    }
    return crlf;
}

// Switches the process's time zone for one scope and puts the old one back.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            saved_ = std::string(old);
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope()
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    std::optional<std::string> saved_;
};

} // namespace og::test
