#pragma once

#include <optional>
#include <string>

namespace quaylet::testing {

// Sets (or, given no value, unsets) one variable of this process's environment and puts
// back the previous state when the object goes. Not for use while other threads run.
class ScopedEnvironmentVariable {
  public:
    ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

  private:
    static void assign(const std::string& name, const std::optional<std::string>& value);

    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace quaylet::testing
