#pragma once

#include <QFuture>
#include <QObject>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "feature/PreviewService.h"

namespace quaylet {

// The long work of the objects on the main thread, on a bounded pool of threads this helper
// owns. Results come back through the main thread's event loop, and only to an object that
// still exists: each piece of work has a marker parented to its context object, and a result
// whose marker has gone with its context is dropped unapplied.
//
// Destroying the helper stops every task it handed out, drops every result not yet applied
// and waits for the threads. So whatever a worker uses (the services, the network session the
// service holds, the main thread's event loop) only has to outlive the helper, not the
// workers. Lives on the main thread; apply and post are for the workers.
class BackgroundWork {
  public:
    // What the worker hands back for the main thread to apply.
    using Step = std::function<void()>;
    // Whether a job may reach the preview service over the network.
    enum class Reach { host, network };

    // At most threads jobs run at once; the others wait their turn in order. The service's
    // network is started on the main thread before the first job that reaches it.
    BackgroundWork(std::shared_ptr<PreviewService> service, std::size_t threads);
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Runs job on the pool, then on the main thread, while context exists, the step it
    // returned or onFailure with what it threw. The future ends once that has run, on the main
    // thread; it is cancelled instead when the step is dropped, so its continuations never run
    // for a context that has gone. Continue it without a context object: Qt 6.4 asserts on a
    // continuation whose context has gone.
    QFuture<void> run(QObject* context, std::function<Step()> job,
                      std::function<void(std::exception_ptr)> onFailure, Reach reach);

    // From a job: hands step to the main thread and returns once it has run or has been
    // dropped, or once stop is requested. The main thread never waits for a worker, so this
    // cannot deadlock against it. The step checks for itself that what it touches exists.
    void apply(Step step, std::stop_token stop);
    // From a job: as apply, without waiting.
    void post(Step step);

    // The stop source of one task, such as a launch; also stopped when the helper goes.
    std::stop_source task();

    // What destroying the helper does, for an owner whose jobs use its other members: called
    // first in the owner's destructor, it ends the work before any of them goes.
    void close();

  private:
    struct Job;
    class Relay;

    void work(std::stop_token stop);
    // Queues work for the main thread; false when the helper has been closed.
    bool toMainThread(Step step);
    bool queueForMainThread(Step step);  // with mutex_ held
    void applyQueued();

    std::shared_ptr<PreviewService> service_;
    const std::size_t threads_;
    std::vector<std::stop_source> tasks_;  // main thread only
    std::unique_ptr<Relay> relay_;

    std::mutex mutex_;
    std::condition_variable_any jobQueued_;
    std::deque<std::shared_ptr<Job>> jobs_;
    std::size_t idle_ = 0;
    std::deque<Step> forMainThread_;
    bool closed_ = false;
    std::vector<std::jthread> pool_;
};

}  // namespace quaylet
