#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace quaylet::testing {

// Sets (or, with no value, unsets) an environment variable for the object's lifetime.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value)
        : name_(std::move(name)) {
        if (const char* current = ::getenv(name_.c_str())) {
            previous_ = current;
        }
        assign(value);
    }
    ~ScopedEnvironment() { assign(previous_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    void assign(const std::optional<std::string>& value) const {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace quaylet::testing
