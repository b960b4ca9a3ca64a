#pragma once

#include <functional>
#include <mutex>

namespace velario::data {

// What a call into an engine that may take long is doing, for whoever shows it to the user.
enum class LongOperation {
    CopyAccessFile, // the working copy of an Access file is written
    Run,            // the statement runs and its first rows are read
    Count,          // the rows of the whole result are counted
    Read,           // further rows are read
    Export,         // every row is written out (to a file)
};

// Runs WORK, and calls INTERRUPT (from any thread) when the user asks to stop it. WORK may run
// on another thread: it touches nothing but the engine objects the caller gave it, and the
// runner returns only once it has ended. Without a runner WORK simply runs.
using LongOperationRunner = std::function<void(LongOperation kind, std::function<void()> work,
                                               const std::function<void()>& interrupt)>;

// Carries a request to stop from the thread that waits to the one that works. The work names
// what to stop as it goes (the engine call under way); a request made before it names one
// reaches that one at once. Thread-safe.
class Interrupter {
public:
    void request() {
        const std::lock_guard lock(mutex_);
        requested_ = true;
        if (stop_)
            stop_();
    }
    bool requested() const {
        const std::lock_guard lock(mutex_);
        return requested_;
    }
    // STOP is what a request calls from now on; null for nothing. Once this returns, an earlier
    // STOP is no longer being called, so what it points at may go.
    void setStop(std::function<void()> stop) {
        const std::lock_guard lock(mutex_);
        stop_ = std::move(stop);
        if (requested_ && stop_)
            stop_();
    }

private:
    mutable std::mutex mutex_;
    std::function<void()> stop_;
    bool requested_ = false;
};

} // namespace velario::data
