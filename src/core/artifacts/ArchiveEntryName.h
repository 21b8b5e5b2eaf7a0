#pragma once

#include <string_view>

namespace quaylet {

// Whether an archive entry name stays below the folder it is unpacked into by its spelling
// alone: it does not start with "/" or "~", has no ".." component and no backslash (which
// some extractors take for a separator).
bool staysBelowDestination(std::string_view name);

}  // namespace quaylet
