#pragma once

#include <optional>
#include <string>

#include "core/simulator/SimulatorInventory.h"
#include "core/support/SemanticVersion.h"

namespace quaylet {

// Chooses the device a build runs on. Stateless.
class SimulatorSelector {
  public:
    // Among the available devices of available runtimes at or above minimumOS: a booted
    // device first, then the preferred one, then iPhone Pro models, other iPhones, other
    // devices and iPads last; ties go to the newest runtime, then to the name that comes
    // first in a file browser's order, then to inventory order. Throws
    // QuayletError::noCompatibleSimulator when no device qualifies.
    SimulatorDevice select(const SimulatorInventory& inventory, const SemanticVersion& minimumOS,
                           const std::optional<std::string>& preferredUDID) const;

    // The device with exactly this UDID, whatever its rank; a person named it. Throws
    // QuayletError::unsupportedApplication saying why when it is unknown, on a runtime that
    // is not installed, unavailable (or on an unavailable runtime) or on a runtime older than
    // minimumOS.
    SimulatorDevice require(const SimulatorInventory& inventory, const SemanticVersion& minimumOS,
                            const std::string& udid) const;

  private:
    static int rank(const SimulatorDevice& device, const std::optional<std::string>& preferredUDID);
};

}  // namespace quaylet
