#pragma once

#include <stop_token>

#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"
#include "core/simulator/EnvironmentSnapshot.h"
#include "core/simulator/SimulatorInventory.h"

namespace quaylet {

// Asks the simulator tool what is installed. Stateless.
class SimulatorDiscovery {
  public:
    SimulatorDiscovery(ProcessRunner runner, DeveloperTools tools);

    // The runner's errors (QuayletError::commandFailed for a non-zero exit) and the
    // listing's DecodingError reach the caller unchanged.
    SimulatorInventory inventory(std::stop_token stop) const;

    // Never throws: every problem, cancellation included, becomes a line in failures.
    EnvironmentSnapshot environment(std::stop_token stop) const;

  private:
    ProcessRunner runner_;
    DeveloperTools tools_;
};

}  // namespace quaylet
