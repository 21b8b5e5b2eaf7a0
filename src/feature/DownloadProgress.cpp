#include "feature/DownloadProgress.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace quaylet {
namespace {

// A burst of bytes counts fully after about this long; older rates fade out.
constexpr double kSmoothingSeconds = 3.0;
// Reports closer together than this say nothing about the rate.
constexpr double kShortestSample = 0.05;

}  // namespace

bool DownloadPacer::shouldReport(std::int64_t received, std::int64_t expected,
                                 ProgressClock::time_point now) {
    if (received < expected && lastReport_ && now - *lastReport_ < kInterval) {
        return false;
    }
    lastReport_ = now;
    return true;
}

void TransferEstimate::record(std::int64_t received, std::int64_t expected,
                              ProgressClock::time_point now) {
    if (!lastTime_ || received < lastReceived_) {
        lastTime_ = now;
        lastReceived_ = received;
        return;
    }
    const double elapsed = std::chrono::duration<double>(now - *lastTime_).count();
    if (elapsed < kShortestSample) {
        return;
    }
    const double rate = double(received - lastReceived_) / elapsed;
    const double weight = 1.0 - std::exp(-elapsed / kSmoothingSeconds);
    bytesPerSecond_ =
        bytesPerSecond_ ? *bytesPerSecond_ + weight * (rate - *bytesPerSecond_) : rate;
    lastTime_ = now;
    lastReceived_ = received;
    if (*bytesPerSecond_ > 0) {
        secondsLeft_ = double(std::max<std::int64_t>(expected - received, 0)) / *bytesPerSecond_;
    } else {
        secondsLeft_.reset();
    }
}

std::string formatByteCount(std::uint64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static constexpr std::array<const char*, 5> kUnits = {"KB", "MB", "GB", "TB", "PB"};
    double value = double(bytes) / 1000;
    std::size_t unit = 0;
    // Rounded first, so that 999.7 MB shows as 1.0 GB rather than 1000 MB.
    while (unit + 1 < kUnits.size() && std::round(value * 10) / 10 >= 999.5) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 9.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string formatDownloadProgress(std::int64_t received, std::int64_t expected,
                                   std::optional<double> secondsLeft) {
    std::string text = formatByteCount(std::uint64_t(std::max<std::int64_t>(received, 0))) +
                       " of " + formatByteCount(std::uint64_t(std::max<std::int64_t>(expected, 0)));
    if (!secondsLeft || received >= expected) {
        return text;
    }
    const auto seconds = static_cast<std::int64_t>(std::ceil(*secondsLeft));
    if (seconds < 60) {
        return text + " · " + std::to_string(seconds) + " s left";
    }
    const std::int64_t minutes = (seconds + 59) / 60;
    if (minutes < 60) {
        return text + " · " + std::to_string(minutes) + " min left";
    }
    return text + " · " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
           " min left";
}

}  // namespace quaylet
