#pragma once
// A scratch file name per process, in memory (/dev/shm) where there is one,
// so a fuzz run is not slowed down by the disk; removed when the run ends.

#include <string>
#include <vector>

#include <unistd.h>

namespace og::fuzz {

inline std::string ScratchFile(const char* name)
{
    struct Files {
        std::vector<std::string> names;
        ~Files()
        {
            for (const auto& n : names)
                ::unlink(n.c_str());
        }
    };
    static Files files;
    const std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    files.names.push_back(folder + "/og-fuzz-" + name + "-" + std::to_string(::getpid()));
    return files.names.back();
}

} // namespace og::fuzz
