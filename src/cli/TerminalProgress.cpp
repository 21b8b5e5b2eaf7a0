#include "cli/TerminalProgress.h"

#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>

#include "core/support/Text.h"
#include "feature/AppState.h"

namespace quaylet {
namespace {

constexpr int kBarWidth = 24;

std::string bar(double fraction) {
    const int filled = static_cast<int>(fraction * kBarWidth + 0.5);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]";
}

}  // namespace

TerminalProgress::TerminalProgress(const AppState& state, std::FILE* output)
    : state_(state), output_(output), isTerminal_(::isatty(::fileno(output)) == 1) {
    connect(&state, &AppState::stageChanged, this, &TerminalProgress::show);
    connect(&state, &AppState::downloadProgressChanged, this, &TerminalProgress::show);
    connect(&state, &AppState::repairDetailChanged, this, &TerminalProgress::show);
}

void TerminalProgress::show() {
    const LaunchStage stage = state_.stage();
    if (stage == LaunchStage::idle) {
        return;
    }
    const std::string step = "step " + std::to_string(launchStep(stage, state_.launchSource())) +
                             " of " + std::to_string(kLaunchStepCount);
    std::string text = std::string(title(stage)) + " · " + step;
    double fraction = progress(stage);
    const std::optional<std::string> detail = state_.downloadDetail();
    if (detail) {
        fraction = double(state_.downloadedBytes()) / double(state_.expectedBytes());
        text += " · " + *detail;
    } else if (const std::optional<std::string>& repair = state_.repairDetail()) {
        text += " · " + inertText(*repair);  // it names a device as the simulator lists it
    }
    const int tenths = detail ? static_cast<int>(fraction * 10) : 0;
    if (isTerminal_) {
        // Carriage return and erase-line redraw the one progress line in place.
        std::fprintf(output_, "\r\x1b[2K%-28s %s", text.c_str(), bar(fraction).c_str());
        lineOpen_ = true;
    } else if (detail) {
        if (tenths > downloadedTenths_) {
            std::fprintf(output_, "%s\n", text.c_str());
        }
    } else if (text != lastLine_) {
        // Stages that share a title and step (verifying, extracting) make one line.
        std::fprintf(output_, "%s\n", text.c_str());
        lastLine_ = text;
    }
    downloadedTenths_ = std::max(tenths, detail ? downloadedTenths_ : 0);
    std::fflush(output_);
}

void TerminalProgress::finish() {
    if (lineOpen_) {
        std::fputc('\n', output_);
        std::fflush(output_);
        lineOpen_ = false;
    }
}

}  // namespace quaylet
