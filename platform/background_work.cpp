#include "background_work.h"

#include <QDeadlineTimer>
#include <QThread>

namespace velario {

BackgroundWork::BackgroundWork(std::function<void()> work)
    : thread_(QThread::create(std::move(work))) {
    connect(thread_.get(), &QThread::finished, this, &BackgroundWork::finished,
            Qt::QueuedConnection);
    thread_->start();
}

BackgroundWork::~BackgroundWork() {
    thread_->wait();
}

bool BackgroundWork::wait(int milliseconds) {
    return thread_->wait(milliseconds < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                          : QDeadlineTimer(milliseconds));
}

bool BackgroundWork::isFinished() const {
    return thread_->isFinished();
}

} // namespace velario
