#pragma once

#include <QObject>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/service/BuildPlatform.h"
#include "core/service/RemoteLaunchStage.h"

namespace quaylet {

// How far a launch has come, as the interface shows it.
enum class LaunchStage {
    idle,
    fetching,
    downloading,
    verifying,
    extracting,
    inspecting,
    selecting,
    booting,
    installing,
    launching,
    running,
};

// Where the current launch's build came from.
enum class LaunchSource { none, local, remote };

// The stage and the source as the views name them. QML reaches only enum keys that begin with
// a capital letter, so each key here is the C++ one capitalised, with its value. Classes
// that are never made, as QML names only object types with a capital letter.
class LaunchStageKeys : public QObject {
    Q_OBJECT

  public:
    enum Key {
        Idle = int(LaunchStage::idle),
        Fetching = int(LaunchStage::fetching),
        Downloading = int(LaunchStage::downloading),
        Verifying = int(LaunchStage::verifying),
        Extracting = int(LaunchStage::extracting),
        Inspecting = int(LaunchStage::inspecting),
        Selecting = int(LaunchStage::selecting),
        Booting = int(LaunchStage::booting),
        Installing = int(LaunchStage::installing),
        Launching = int(LaunchStage::launching),
        Running = int(LaunchStage::running),
    };
    Q_ENUM(Key)
};

class LaunchSourceKeys : public QObject {
    Q_OBJECT

  public:
    enum Key {
        None = int(LaunchSource::none),
        Local = int(LaunchSource::local),
        Remote = int(LaunchSource::remote),
    };
    Q_ENUM(Key)
};

inline constexpr int kLaunchStepCount = 5;

inline constexpr std::array kAllLaunchStages = {
    LaunchStage::idle,      LaunchStage::fetching,   LaunchStage::downloading,
    LaunchStage::verifying, LaunchStage::extracting, LaunchStage::inspecting,
    LaunchStage::selecting, LaunchStage::booting,    LaunchStage::installing,
    LaunchStage::launching, LaunchStage::running,
};
// A stage added to the enum needs its key above.
static_assert(kAllLaunchStages.size() == LaunchStageKeys::Running + 1);
static_assert(int(LaunchSource::remote) == LaunchSourceKeys::Remote);

// The source as the launch history keeps it: "none", "local" or "remote".
std::string_view rawValue(LaunchSource source);

// The stage's title for a build of the platform: the stages that name the device name an
// Android build's an emulator.
std::string_view title(LaunchStage stage, BuildPlatform platform);
// What the stage's step is doing, as the step's line in the pipeline says it.
std::string_view stepDetail(LaunchStage stage, BuildPlatform platform);
// The title of the pipeline's step (1 to kLaunchStepCount) for a launch of the source.
std::string_view stepTitle(int step, LaunchSource source);

// Fraction of the whole launch in [0, 1]; rises strictly with the stage.
double progress(LaunchStage stage);

// The launch's overall fraction, the one every progress bar shows: the stage's, and while
// downloading, the part of the download's share (up to where verifying starts) that the bytes
// received out of those expected fill.
double launchProgress(LaunchStage stage, std::int64_t received, std::int64_t expected);

// Which of the five pipeline steps the stage belongs to (0 when idle).
int launchStep(LaunchStage stage, LaunchSource source);

// The progress bar's accessibility value, such as "Ready, step 0 of 5".
std::string progressAccessibilityValue(LaunchStage stage, LaunchSource source,
                                       BuildPlatform platform);

// The stage a core report moves a launch of the given source to; absent when the report
// does not apply (a local launch has no download, verification or extraction).
std::optional<LaunchStage> launchStage(RemoteLaunchStage reported, LaunchSource source);

}  // namespace quaylet
