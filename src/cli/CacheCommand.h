#pragma once

#include <QFuture>

#include <functional>
#include <string>

namespace quaylet {

class AppState;

// Runs the event loop until the future ends.
using AwaitFuture = std::function<void(const QFuture<void>&)>;

// `quaylet cache`: one line per cached build (preview, size, last launch), then the total and
// the limit; with prune, the limit is applied first.
int cacheCommand(AppState& state, bool prune, const AwaitFuture& await);

// `quaylet settings cacheLimitGB <value>`: a lower limit is applied at once.
int setCacheLimit(AppState& state, const std::string& value, const AwaitFuture& await);

}  // namespace quaylet
