#include "feature/BackgroundWork.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QPromise>

#include <optional>

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

// Opens the gate when the last copy of the handed-over step goes, which happens after the
// step ran and also when it is dropped unrun. Not copyable: a temporary copy would open the
// gate as soon as it went.
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

// Created, run and destroyed on the main thread; a worker only reads work.
struct BackgroundWork::Job {
    std::function<Step()> work;
    std::function<void(std::exception_ptr)> onFailure;
    // Parented to the context: it goes with it.
    QPointer<QObject> marker;
    std::optional<QPromise<void>> finished;

    ~Job() { delete marker.data(); }
};

// Wakes the main thread for the steps the workers queued. The steps themselves travel under
// the helper's mutex rather than inside Qt's events, so the hand-over is one the thread
// sanitizer sees.
class BackgroundWork::Relay : public QObject {
  public:
    explicit Relay(BackgroundWork& work) : work_(work) {}

  protected:
    void customEvent(QEvent*) override { work_.applyQueued(); }

  private:
    BackgroundWork& work_;
};

BackgroundWork::BackgroundWork(std::shared_ptr<PreviewService> service, std::size_t threads)
    : service_(std::move(service)), threads_(threads), relay_(std::make_unique<Relay>(*this)) {}

BackgroundWork::~BackgroundWork() {
    close();
}

void BackgroundWork::close() {
    for (std::stop_source& task : tasks_) {
        task.request_stop();
    }
    {
        std::deque<std::shared_ptr<Job>> unstarted;
        std::deque<Step> unapplied;
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            unstarted.swap(jobs_);
            unapplied.swap(forMainThread_);
        }
        // Dropping them cancels their futures and lets the workers waiting in apply go on.
    }
    pool_.clear();
    // What the last workers handed back; nobody else touches it now.
    forMainThread_.clear();
}

QFuture<void> BackgroundWork::run(QObject* context, std::function<Step()> job,
                                  std::function<void(std::exception_ptr)> onFailure, Reach reach) {
    if (reach == Reach::network) {
        service_->startNetwork();
    }
    auto queued = std::make_shared<Job>();
    queued->work = std::move(job);
    queued->onFailure = std::move(onFailure);
    queued->marker = new QObject(context);
    queued->finished.emplace().start();
    QFuture<void> future = queued->finished->future();
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(queued));
        if (jobs_.size() > idle_ && pool_.size() < threads_) {
            pool_.emplace_back([this](std::stop_token stop) { work(stop); });
        }
    }
    jobQueued_.notify_one();
    return future;
}

void BackgroundWork::apply(Step step, std::stop_token stop) {
    auto gate = std::make_shared<Gate>();
    const bool handedOver = toMainThread(
        [step = std::move(step), opener = std::make_shared<GateOpener>(gate)] { step(); });
    if (handedOver) {
        gate->waitUntilOpen(stop);
    }
}

void BackgroundWork::post(Step step) {
    toMainThread(std::move(step));
}

std::stop_source BackgroundWork::task() {
    std::erase_if(tasks_, [](const std::stop_source& task) { return task.stop_requested(); });
    return tasks_.emplace_back();
}

void BackgroundWork::work(std::stop_token stop) {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            ++idle_;
            const bool found = jobQueued_.wait(lock, stop, [this] { return !jobs_.empty(); });
            --idle_;
            if (!found) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        Step step;
        try {
            step = job->work();
        } catch (...) {
            step = [onFailure = job->onFailure, error = std::current_exception()] {
                onFailure(error);
            };
        }
        std::optional<QPromise<void>> unapplied;
        std::lock_guard lock(mutex_);
        if (closed_) {
            // Nothing is applied any more. Its future ends now rather than once the threads
            // have gone, for a job may be waiting for it.
            unapplied.swap(job->finished);
        }
        queueForMainThread([job = std::move(job), step = std::move(step)] {
            if (job->marker) {
                step();
                job->finished->finish();
            }
        });
    }
}

bool BackgroundWork::toMainThread(Step step) {
    std::lock_guard lock(mutex_);
    return queueForMainThread(std::move(step));
}

bool BackgroundWork::queueForMainThread(Step step) {
    // Queued even when closed: the marker goes on the main thread, and so does what the step
    // holds.
    forMainThread_.push_back(std::move(step));
    if (closed_) {
        return false;
    }
    if (forMainThread_.size() == 1) {
        QCoreApplication::postEvent(relay_.get(), new QEvent(QEvent::User));
    }
    return true;
}

void BackgroundWork::applyQueued() {
    std::deque<Step> steps;
    {
        std::lock_guard lock(mutex_);
        steps.swap(forMainThread_);
    }
    for (Step& step : steps) {
        step();
        step = nullptr;  // a waiting worker goes on as soon as its step has run
    }
}

}  // namespace quaylet
