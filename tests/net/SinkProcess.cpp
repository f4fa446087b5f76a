#include "tests/net/SinkProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace og::test {

using namespace std::chrono;

namespace {
bool FileExists(const std::string& path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0;
}
} // namespace

SinkProcess::SinkProcess(const std::string& storeDir, int maxSeconds)
    : storeDir_(storeDir)
{
    const std::string portFile = storeDir + ".port";
    ::unlink(portFile.c_str());
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    const std::string script = std::string(OG_SOURCE_DIR) + "/tests/support/smtp_sink.py";
    const std::string lifetime = std::to_string(maxSeconds);
    std::vector<std::string> args = {"/usr/bin/python3", script, "--store-dir", storeDir, "--port-file", portFile,
        "--max-seconds", lifetime, "--watch-stdin"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    stdinPipe_ = fds[1];
    if (pid_ < 0)
        return;
    auto deadline = steady_clock::now() + seconds(15);
    while (steady_clock::now() < deadline) {
        std::ifstream in(portFile);
        if (in >> port_ && port_ > 0)
            break;
        port_ = 0;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

SinkProcess::~SinkProcess()
{
    Stop();
}

std::string SinkProcess::AwaitMessage(int n, int waitSeconds) const
{
    char name[32];
    std::snprintf(name, sizeof name, "/msg-%04d.eml", n);
    const std::string path = storeDir_ + name;
    auto deadline = steady_clock::now() + seconds(waitSeconds);
    while (steady_clock::now() < deadline) {
        if (FileExists(path))
            return path;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return {};
}

void SinkProcess::Stop()
{
    if (stdinPipe_ >= 0) {
        ::close(stdinPipe_); // the sink leaves when its stdin ends
        stdinPipe_ = -1;
    }
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    auto deadline = steady_clock::now() + seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    pid_ = -1;
}

std::string RunAndCapture(const std::string& commandLine, int timeoutSeconds)
{
    const std::string bounded = "timeout " + std::to_string(timeoutSeconds) + " " + commandLine;
    std::string output;
    FILE* pipe = ::popen(bounded.c_str(), "r");
    if (!pipe)
        return output;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, n);
    ::pclose(pipe);
    return output;
}

} // namespace og::test
