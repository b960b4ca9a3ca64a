#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QThread;

namespace velario {

// A piece of work that runs on a thread of its own from the moment the object is made. The
// object does not go before the work has ended.
class BackgroundWork : public QObject {
    Q_OBJECT
public:
    explicit BackgroundWork(std::function<void()> work);
    ~BackgroundWork() override;
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // True once the work has ended; waits up to MILLISECONDS for it (negative: until it ends).
    bool wait(int milliseconds);
    bool isFinished() const;

signals:
    // The work has ended; delivered on the thread that made the object, by its event loop.
    void finished();

private:
    std::unique_ptr<QThread> thread_;
};

} // namespace velario
