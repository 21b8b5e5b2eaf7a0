#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quaylet {

// Reads an RFC 3339 internet date-time: 2024-05-01T12:30:45Z, with optional fractional
// seconds (.123, any number of digits, kept to the clock's precision) and a time zone of Z
// or a signed hh:mm offset. Absent when the text is not exactly that form, names a day or time
// that does not exist (2023-02-29, 24:00, second 60), or lies outside what the system clock
// can hold.
std::optional<std::chrono::system_clock::time_point> parseInternetDateTime(std::string_view text);

// Writes the time as an internet date-time in UTC without fractions, 2024-05-01T12:30:45Z.
std::string formatInternetDateTime(std::chrono::system_clock::time_point time);

}  // namespace quaylet
