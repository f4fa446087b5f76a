#pragma once
// Work on a second core, for the long runs of a big shop.

#include <exception>
#include <thread>
#include <utility>

namespace og {

// Work on a second core, joined before its results are used; an exception
// it throws is thrown again by join(). Not aside (a small run, where a
// thread costs more than it saves, or one core): done at once, here.
class SideWork {
public:
    explicit SideWork(bool aside)
        : aside_(aside && std::thread::hardware_concurrency() > 1)
    {
    }
    SideWork(const SideWork&) = delete;
    SideWork& operator=(const SideWork&) = delete;
    template <typename Work>
    void start(Work work)
    {
        if (!aside_) {
            try {
                work();
            } catch (...) {
                error_ = std::current_exception();
            }
            return;
        }
        thread_ = std::thread([this, work = std::move(work)]() mutable {
            try {
                work();
            } catch (...) {
                error_ = std::current_exception();
            }
        });
    }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
        if (error_)
            std::rethrow_exception(std::exchange(error_, nullptr));
    }
    ~SideWork()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    bool aside_;
    std::thread thread_;
    std::exception_ptr error_;
};

} // namespace og
