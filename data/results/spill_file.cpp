#include "data/results/spill_file.h"

#include <QDir>
#include <QTemporaryFile>

namespace velario::data {

namespace {

// Unbuffered, so that a write that fails leaves nothing pending to be written later over
// the blocks already in the file.
class UnbufferedTemporaryFile : public QTemporaryFile {
public:
    using QTemporaryFile::QTemporaryFile;
    bool openUnbuffered() { return open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
};

} // namespace

std::unique_ptr<SpillFile> SpillFile::create() {
    // With TMPDIR naming a missing folder the temporary path is empty, not /tmp.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty())
        return nullptr;
    auto file =
        std::make_unique<UnbufferedTemporaryFile>(folder + QStringLiteral("/velario-righe-XXXXXX"));
    if (!file->openUnbuffered())
        return nullptr;
    std::unique_ptr<SpillFile> spill(new SpillFile(std::move(file)));
    if (!spill->reader_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return nullptr;
    return spill;
}

SpillFile::SpillFile(std::unique_ptr<QTemporaryFile> file)
    : file_(std::move(file)), reader_(file_->fileName()), writer_([this] { writeInTurn(); }) {}

SpillFile::~SpillFile() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

qint64 SpillFile::append(size_t block, std::unique_ptr<char[]> bytes, size_t size,
                         size_t capacity) {
    const qint64 offset = end_;
    end_ += qint64(size);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.size() < kInFlight; });
    jobs_.push_back({block, std::move(bytes), size, capacity, offset});
    lock.unlock();
    changed_.notify_all();
    return offset;
}

bool SpillFile::failed() const {
    const std::lock_guard lock(mutex_);
    return failed_;
}

std::vector<SpillFile::Unwritten> SpillFile::takeUnwritten() {
    const std::lock_guard lock(mutex_);
    return std::exchange(unwritten_, {});
}

std::unique_ptr<char[]> SpillFile::takeWrittenMemory(size_t capacity) {
    const std::lock_guard lock(mutex_);
    if (!writtenMemory_ || writtenCapacity_ != capacity)
        return nullptr;
    return std::move(writtenMemory_);
}

void SpillFile::waitForWrites() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.empty(); });
}

uchar* SpillFile::map(qint64 offset, qint64 size) {
    // The reader keeps the file's size from when it last looked, and the file has grown
    // since: asked again, it maps no more than is written (nor warns that it would).
    if (offset + size > reader_.size())
        return nullptr;
    return reader_.map(offset, size);
}

void SpillFile::unmap(uchar* address) {
    reader_.unmap(address);
}

bool SpillFile::read(qint64 offset, char* out, qint64 size) {
    return reader_.seek(offset) && reader_.read(out, size) == size;
}

void SpillFile::writeInTurn() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        Job& job = jobs_.front();
        bool written = false;
        if (!failed_) {
            lock.unlock();
            const auto size = qint64(job.size);
            written = file_->seek(job.offset) && file_->write(job.bytes.get(), size) == size;
            lock.lock();
        }
        if (written) {
            writtenMemory_ = std::move(job.bytes);
            writtenCapacity_ = job.capacity;
        } else {
            failed_ = true;
            unwritten_.push_back({job.block, std::move(job.bytes), job.capacity});
        }
        jobs_.pop_front();
        changed_.notify_all();
    }
}

} // namespace velario::data
