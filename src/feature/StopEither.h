#pragma once

#include <stop_token>

namespace quaylet {

// A stop token that is stopped as soon as either of two is: one launch's own stop, or the
// whole service's (the terminal's Ctrl-C).
class StopEither {
  public:
    StopEither(const std::stop_token& first, const std::stop_token& second)
        : byFirst_(first, Stop{source_}), bySecond_(second, Stop{source_}) {}

    std::stop_token token() const { return source_.get_token(); }

  private:
    struct Stop {
        std::stop_source& source;
        void operator()() const { source.request_stop(); }
    };

    std::stop_source source_;
    std::stop_callback<Stop> byFirst_;
    std::stop_callback<Stop> bySecond_;
};

}  // namespace quaylet
