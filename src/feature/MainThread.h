#pragma once

#include <functional>
#include <stop_token>

namespace quaylet {

// Hands work from a worker thread to the application's main thread. The work must check
// for itself whether what it touches still exists; it is dropped if the application ends
// before it runs.
void postToMainThread(std::function<void()> work);

// Like postToMainThread, but blocks the calling worker until the work has run on the main
// thread, has been dropped, or stop is requested, whichever comes first. The main thread
// never waits for the worker, so this cannot deadlock against it.
void applyOnMainThread(std::function<void()> work, std::stop_token stop);

}  // namespace quaylet
