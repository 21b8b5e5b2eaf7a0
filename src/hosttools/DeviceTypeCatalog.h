#pragma once

#include <span>
#include <string_view>

namespace quaylet::hosttools {

struct DeviceType {
    const char* identifier;
    const char* name;
    const char* productFamily;  // iPhone, iPad or Apple TV
};

// The device models the simulated tool knows, as listed under "devicetypes".
std::span<const DeviceType> deviceTypeCatalog();

// The product families a runtime of the given platform runs.
bool platformRunsFamily(std::string_view platform, std::string_view productFamily);

}  // namespace quaylet::hosttools
