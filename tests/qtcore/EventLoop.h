#pragma once

#include <QFuture>

#include <functional>

namespace quaylet::testing {

// Runs this thread's event loop until done() holds, for work that is bound to end; the
// generous bound only keeps a hang from stalling the suite. Returns done().
bool waitFor(const std::function<bool()>& done);
bool waitFor(const QFuture<void>& future);

}  // namespace quaylet::testing
