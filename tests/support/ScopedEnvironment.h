#pragma once

#include <optional>
#include <string>

namespace quaylet::testing {

// Sets (or, with no value, unsets) an environment variable for the object's lifetime.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace quaylet::testing
