#pragma once

#include <filesystem>
#include <stop_token>

#include "core/artifacts/AppMetadata.h"
#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"

namespace quaylet {

// Reads what an .app bundle declares and refuses bundles that cannot run in Simulator. The
// checks run in a fixed order and the first failure decides the QuayletError. Writes nothing;
// holds no state between calls.
class AppInspector {
  public:
    // The refusal of anything that is not an .app folder; front ends that check a path
    // themselves refuse with the same words.
    static constexpr const char* kNotAnAppMessage = "Choose a valid iOS Simulator build.";
    // The refusal of an executable with no code for Simulator; a launch that judges a build by
    // its manifest before downloading it refuses with the same words.
    static constexpr const char* kNoRunnableCodeMessage =
        "This build contains no code that can run in Simulator on this Mac.";

    AppInspector(ProcessRunner runner, DeveloperTools tools);

    AppMetadata inspect(const std::filesystem::path& appPath, std::stop_token stop) const;

  private:
    ProcessRunner runner_;
    DeveloperTools tools_;
};

}  // namespace quaylet
