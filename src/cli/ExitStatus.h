#pragma once

namespace quaylet {

// The statuses the quaylet program exits with; scripts that run it rely on them.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsageError = 2;
inline constexpr int kInterrupted = 130;  // as a shell reports a command ended by Ctrl-C

}  // namespace quaylet
