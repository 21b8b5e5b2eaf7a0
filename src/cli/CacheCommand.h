#pragma once

#include <string>

namespace quaylet {

class DownloadCache;
class Interrupt;
class Launch;

// `quaylet cache`: one line per cached build (preview, size, last use, and "in use" while a
// launch or a prefetch holds it), then the total and the limit; with prune, the limit is
// applied first.
int cacheCommand(DownloadCache& cache, const Launch& launch, bool prune,
                 const Interrupt& interrupt);

// `quaylet settings cacheLimitGB <value>`: a lower limit is applied at once.
int setCacheLimit(DownloadCache& cache, const Launch& launch, const std::string& value,
                  const Interrupt& interrupt);

}  // namespace quaylet
