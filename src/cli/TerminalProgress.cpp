#include "cli/TerminalProgress.h"

#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>

#include "core/support/Text.h"
#include "feature/Launch.h"

namespace quaylet {
namespace {

constexpr int kBarWidth = 24;

std::string bar(double fraction) {
    const int filled = static_cast<int>(fraction * kBarWidth + 0.5);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "]";
}

}  // namespace

TerminalProgress::TerminalProgress(const Launch& launch, std::FILE* output)
    : launch_(launch), output_(output), isTerminal_(::isatty(::fileno(output)) == 1) {
    connect(&launch, &Launch::stageChanged, this, &TerminalProgress::show);
    connect(&launch, &Launch::launchProgressChanged, this, &TerminalProgress::show);
    connect(&launch, &Launch::downloadProgressChanged, this, &TerminalProgress::show);
    connect(&launch, &Launch::repairDetailChanged, this, &TerminalProgress::show);
}

void TerminalProgress::show() {
    const LaunchStage stage = launch_.stage();
    if (stage == LaunchStage::idle) {
        return;
    }
    const std::string step = "step " + std::to_string(launchStep(stage, launch_.launchSource())) +
                             " of " + std::to_string(kLaunchStepCount);
    std::string text = std::string(title(stage, launch_.platform())) + " · " + step;
    const std::optional<std::string> detail = launch_.downloadDetail();
    int tenths = 0;
    if (detail) {
        text += " · " + *detail;
        tenths = static_cast<int>(10 * launch_.downloadedBytes() / launch_.expectedBytes());
    } else if (const std::optional<std::string>& repair = launch_.repairDetail()) {
        text += " · " + inertText(*repair);  // it names a device as the simulator lists it
    }
    if (isTerminal_) {
        // Carriage return and erase-line redraw the one progress line in place.
        std::fprintf(output_, "\r\x1b[2K%-28s %s", text.c_str(),
                     bar(launch_.launchProgress()).c_str());
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
