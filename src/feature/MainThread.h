#pragma once

#include <QFuture>
#include <QObject>

#include <exception>
#include <functional>
#include <stop_token>
#include <utility>

namespace quaylet {

// Hands work from a worker thread to the application's main thread. The work must check
// for itself whether what it touches still exists; it is dropped if the application ends
// before it runs.
void postToMainThread(std::function<void()> work);

// Like postToMainThread, but blocks the calling worker until the work has run on the main
// thread, has been dropped, or stop is requested, whichever comes first. The main thread
// never waits for the worker, so this cannot deadlock against it.
void applyOnMainThread(std::function<void()> work, std::stop_token stop);

// What a worker hands back for the main thread to apply.
using MainThreadStep = std::function<void()>;

// Runs work on a worker thread, then on the main thread (while context exists) the step it
// returned, or onFailure with what it threw. The future ends after that, also without context.
QFuture<void> inBackground(QObject* context, std::function<MainThreadStep()> work,
                           std::function<void(std::exception_ptr)> onFailure);

// A future that has already ended, for an operation with nothing to wait for.
QFuture<void> finishedFuture();

// Writes value into an object's field and sends the change signal, only when it differs.
template <typename Object, typename T>
void assign(Object* object, T& field, T value, void (Object::*changed)()) {
    if (field == value) {
        return;
    }
    field = std::move(value);
    (object->*changed)();
}

}  // namespace quaylet
