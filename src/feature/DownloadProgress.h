#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quaylet {

using ProgressClock = std::chrono::steady_clock;

// Lets through at most one download report per interval, and always the last one, so the
// main thread is not flooded by a fast download.
class DownloadPacer {
  public:
    static constexpr std::chrono::milliseconds kInterval{100};

    bool shouldReport(std::int64_t received, std::int64_t expected, ProgressClock::time_point now);

  private:
    std::optional<ProgressClock::time_point> lastReport_;
};

// The time a download has left, from a rate smoothed over the last few seconds so that the
// estimate does not jump with every burst or pause of the connection.
class TransferEstimate {
  public:
    void record(std::int64_t received, std::int64_t expected, ProgressClock::time_point now);
    // Absent until two reports some time apart have shown a rate.
    std::optional<double> secondsLeft() const { return secondsLeft_; }

  private:
    std::optional<ProgressClock::time_point> lastTime_;
    std::int64_t lastReceived_ = 0;
    std::optional<double> bytesPerSecond_;
    std::optional<double> secondsLeft_;
};

// "312 MB", "1.1 GB", "640 bytes": decimal units, as the desktop counts file sizes.
std::string formatByteCount(std::uint64_t bytes);

// "312 MB of 1.1 GB · 24 s left"; without the time when there is no estimate yet or nothing
// is left.
std::string formatDownloadProgress(std::int64_t received, std::int64_t expected,
                                   std::optional<double> secondsLeft);

}  // namespace quaylet
