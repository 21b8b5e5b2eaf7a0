#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace quaylet::devservice {

// The time as an internet date-time in UTC without fractions, 2024-05-01T12:30:45Z: the
// form every date the service answers takes.
inline std::string internetDateTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace quaylet::devservice
