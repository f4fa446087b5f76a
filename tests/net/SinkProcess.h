#pragma once
// Starts tests/support/smtp_sink.py (Debian's aiosmtpd on 127.0.0.1) for one
// test and stops it again; every wait is bounded.

#include <string>
#include <sys/types.h>

namespace og::test {

class SinkProcess {
public:
    // Messages are stored in `storeDir` (created by the sink).
    explicit SinkProcess(const std::string& storeDir, int maxSeconds = 120);
    ~SinkProcess();
    SinkProcess(const SinkProcess&) = delete;
    SinkProcess& operator=(const SinkProcess&) = delete;

    // 0 when the sink did not come up within the wait.
    int Port() const { return port_; }
    // Waits until stored message number n (from 1) is complete; its path or
    // "" after `waitSeconds`.
    std::string AwaitMessage(int n, int waitSeconds = 20) const;
    void Stop();

private:
    std::string storeDir_;
    pid_t pid_ = -1;
    int stdinPipe_ = -1;
    int port_ = 0;
};

// Runs a command line and returns its standard output (bounded by `timeout`
// seconds through coreutils' timeout).
std::string RunAndCapture(const std::string& commandLine, int timeoutSeconds = 60);

} // namespace og::test
