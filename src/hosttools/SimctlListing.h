#pragma once

#include <filesystem>

#include <nlohmann/json.hpp>

#include "hosttools/DeviceSet.h"

namespace quaylet::hosttools {

// The document "simctl list --json" prints for the set kept in `home`: device types, runtimes,
// devices grouped by runtime identifier, and pairs, with the extra fields the Mac tool prints.
nlohmann::ordered_json simctlListing(const DeviceSet& set, const std::filesystem::path& home);

}  // namespace quaylet::hosttools
