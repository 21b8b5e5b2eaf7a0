#include "feature/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QPromise>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace quaylet {
namespace {

class Gate {
  public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }

    void waitUntilOpen(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, stop, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ = false;
};

// Opens the gate when the last copy of the posted work goes, which happens after the work
// ran and also when Qt discards it unrun. Not copyable: a temporary copy would open the gate
// as soon as it went.
class GateOpener {
  public:
    explicit GateOpener(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    ~GateOpener() { gate_->open(); }
    GateOpener(const GateOpener&) = delete;
    GateOpener& operator=(const GateOpener&) = delete;

  private:
    std::shared_ptr<Gate> gate_;
};

}  // namespace

void postToMainThread(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return;  // the application has ended; nobody is left to show the result
    }
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

void applyOnMainThread(std::function<void()> work, std::stop_token stop) {
    auto gate = std::make_shared<Gate>();
    {
        auto opener = std::make_shared<GateOpener>(gate);
        postToMainThread([work = std::move(work), opener] { work(); });
    }
    gate->waitUntilOpen(stop);
}

QFuture<void> inBackground(QObject* context, std::function<MainThreadStep()> work,
                           std::function<void(std::exception_ptr)> onFailure) {
    auto finished = std::make_shared<QPromise<void>>();
    finished->start();
    QFuture<void> future = finished->future();
    std::thread([self = QPointer<QObject>(context), work = std::move(work),
                 onFailure = std::move(onFailure), finished] {
        MainThreadStep step;
        try {
            step = work();
        } catch (...) {
            step = [onFailure, error = std::current_exception()] { onFailure(error); };
        }
        postToMainThread([self, step = std::move(step), finished] {
            if (self) {
                step();
            }
            finished->finish();
        });
    }).detach();  // the main thread never waits for a worker; results come back as events
    return future;
}

QFuture<void> finishedFuture() {
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

}  // namespace quaylet
