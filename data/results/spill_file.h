#pragma once

#include <QFile>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QTemporaryFile;

namespace velario::data {

// The temporary file a row store's blocks go to when they leave memory. The blocks are
// written on a thread of the file's own, in the order they are handed over, so that the
// thread reading a result never waits on the file system; reading a block back first waits
// for the writes handed over before it.
//
// After a write fails, no later block is written: every block not written comes back, with
// its bytes, through takeUnwritten().
class SpillFile {
public:
    // A block handed over that did not reach the file.
    struct Unwritten {
        size_t block;
        std::unique_ptr<char[]> bytes;
        size_t capacity;
    };

    // A file in the temporary folder; null when none can be made.
    static std::unique_ptr<SpillFile> create();
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Hands over the first SIZE of the CAPACITY bytes of BLOCK, to be written after the
    // blocks before it; where they will be in the file. Waits while kInFlight blocks are
    // still on their way, so that the memory they hold stays bounded.
    qint64 append(size_t block, std::unique_ptr<char[]> bytes, size_t size, size_t capacity);
    // Whether a write has failed: nothing more is written.
    bool failed() const;
    // The blocks handed over that were not written, since the last call.
    std::vector<Unwritten> takeUnwritten();
    // The memory of a block of CAPACITY bytes written, for another block; null when none.
    std::unique_ptr<char[]> takeWrittenMemory(size_t capacity);

    // Waits until every block handed over has been written or has come back unwritten.
    void waitForWrites();
    // SIZE bytes at OFFSET, mapped read-only; null when they cannot be. Only for bytes
    // written (waited for, and not come back): a mapping past the file's end would end the
    // program when read.
    uchar* map(qint64 offset, qint64 size);
    void unmap(uchar* address);
    bool read(qint64 offset, char* out, qint64 size);

    static constexpr size_t kInFlight = 2;

private:
    explicit SpillFile(std::unique_ptr<QTemporaryFile> file);
    void writeInTurn();

    struct Job {
        size_t block;
        std::unique_ptr<char[]> bytes;
        size_t size;
        size_t capacity;
        qint64 offset;
    };

    std::unique_ptr<QTemporaryFile> file_; // written on the writing thread only
    QFile reader_;                         // read and mapped on the store's thread only
    qint64 end_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_; // the first is being written while busy_
    bool busy_ = false;
    bool failed_ = false;
    bool stopping_ = false;
    std::vector<Unwritten> unwritten_;
    std::unique_ptr<char[]> writtenMemory_;
    size_t writtenCapacity_ = 0;
    std::thread writer_;
};

} // namespace velario::data
