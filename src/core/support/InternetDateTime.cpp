#include "core/support/InternetDateTime.h"

#include <ctime>

#include <cstdint>

namespace quaylet {
namespace {

using std::chrono::system_clock;

// Walks the text left to right; every reader consumes only what it accepts.
class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool atEnd() const { return position_ == text_.size(); }

    bool accept(char expected) {
        if (atEnd() || text_[position_] != expected) {
            return false;
        }
        ++position_;
        return true;
    }

    // Exactly `count` ASCII digits as a number.
    std::optional<int> fixedDigits(int count) {
        int value = 0;
        for (int index = 0; index < count; ++index) {
            if (atEnd() || !isDigit(text_[position_])) {
                return std::nullopt;
            }
            value = value * 10 + (text_[position_++] - '0');
        }
        return value;
    }

    // One or more digits after the decimal point, as nanoseconds; digits past the ninth are
    // read and dropped.
    std::optional<std::int64_t> fraction() {
        std::int64_t nanoseconds = 0;
        std::int64_t scale = 100'000'000;
        const std::size_t start = position_;
        while (!atEnd() && isDigit(text_[position_])) {
            nanoseconds += (text_[position_++] - '0') * scale;
            scale /= 10;
        }
        if (position_ == start) {
            return std::nullopt;
        }
        return nanoseconds;
    }

  private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    std::string_view text_;
    std::size_t position_ = 0;
};

struct Fields {
    int year, month, day, hour, minute, second;
    std::int64_t nanoseconds = 0;
    int offsetSeconds = 0;  // local time minus UTC
};

std::optional<Fields> scan(std::string_view text) {
    Scanner scanner(text);
    Fields fields{};
    const auto two = [&scanner](int& into) {
        const auto value = scanner.fixedDigits(2);
        into = value.value_or(0);
        return value.has_value();
    };
    const auto year = scanner.fixedDigits(4);
    if (!year) {
        return std::nullopt;
    }
    fields.year = *year;
    if (!(scanner.accept('-') && two(fields.month) && scanner.accept('-') && two(fields.day) &&
          scanner.accept('T') && two(fields.hour) && scanner.accept(':') && two(fields.minute) &&
          scanner.accept(':') && two(fields.second))) {
        return std::nullopt;
    }
    if (scanner.accept('.')) {
        const auto nanoseconds = scanner.fraction();
        if (!nanoseconds) {
            return std::nullopt;
        }
        fields.nanoseconds = *nanoseconds;
    }
    if (scanner.accept('Z')) {
        return scanner.atEnd() ? std::optional(fields) : std::nullopt;
    }
    int sign = 0;
    if (scanner.accept('+')) {
        sign = 1;
    } else if (scanner.accept('-')) {
        sign = -1;
    } else {
        return std::nullopt;
    }
    int offsetHours = 0;
    int offsetMinutes = 0;
    if (!(two(offsetHours) && scanner.accept(':') && two(offsetMinutes) && scanner.atEnd())) {
        return std::nullopt;
    }
    if (offsetHours > 23 || offsetMinutes > 59) {
        return std::nullopt;
    }
    fields.offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
    return fields;
}

}  // namespace

std::optional<system_clock::time_point> parseInternetDateTime(std::string_view text) {
    const auto fields = scan(text);
    if (!fields) {
        return std::nullopt;
    }
    // The calendar check covers month lengths and leap years. A leap second (60) cannot be
    // held by the system clock, so it is refused like any other impossible time.
    const std::chrono::year_month_day date{std::chrono::year(fields->year),
                                           std::chrono::month(unsigned(fields->month)),
                                           std::chrono::day(unsigned(fields->day))};
    if (!date.ok() || fields->hour > 23 || fields->minute > 59 || fields->second > 59) {
        return std::nullopt;
    }
    // Years 0000 to 9999 stay far inside 64-bit seconds, so this sum cannot overflow; the
    // clock's own range is checked before converting to its finer unit.
    const std::int64_t secondsSinceEpoch =
        std::int64_t(std::chrono::sys_days(date).time_since_epoch().count()) * 86'400 +
        fields->hour * 3600 + fields->minute * 60 + fields->second - fields->offsetSeconds;
    const auto limit =
        std::chrono::duration_cast<std::chrono::seconds>(system_clock::duration::max()).count() - 1;
    if (secondsSinceEpoch > limit || secondsSinceEpoch < -limit) {
        return std::nullopt;
    }
    return system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(
                                        std::chrono::seconds(secondsSinceEpoch)) +
                                    std::chrono::duration_cast<system_clock::duration>(
                                        std::chrono::nanoseconds(fields->nanoseconds)));
}

std::string formatInternetDateTime(std::chrono::system_clock::time_point time) {
    // to_time_t cuts toward zero, which before 1970 is the next second: round down first.
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace quaylet
