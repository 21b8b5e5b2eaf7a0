#include "support/ScopedEnvironmentVariable.h"

#include <stdlib.h>

namespace quaylet::testing {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* current = getenv(name_.c_str())) {
        previous_ = current;
    }
    assign(name_, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
    assign(name_, previous_);
}

void ScopedEnvironmentVariable::assign(const std::string& name,
                                       const std::optional<std::string>& value) {
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

}  // namespace quaylet::testing
