#pragma once
// Scratch files for the mail tests: a private folder removed at the end.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
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

} // namespace og::test
