// quaylet-screenshots: renders the interface in each of its main states to PNG files, so
// that a person can look at every screen without a Mac, a display or a running service.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "Screenshots.h"
#include "appsupport/QuickScene.h"

namespace quaylet::screenshots {
namespace {

std::vector<Screenshot>& registry() {
    static std::vector<Screenshot> screenshots;
    return screenshots;
}

}  // namespace

bool addScreenshots(std::vector<Screenshot> screenshots) {
    for (Screenshot& screenshot : screenshots) {
        registry().push_back(std::move(screenshot));
    }
    return true;
}

const std::vector<Screenshot>& allScreenshots() {
    return registry();
}

}  // namespace quaylet::screenshots

int main(int argc, char* argv[]) {
    constexpr const char* kUsage =
        "usage: quaylet-screenshots FOLDER [NAME-PREFIX]\n"
        "Renders each screen whose name starts with NAME-PREFIX to FOLDER/<name>.png.\n";
    // An option is never a folder: `--help` would otherwise fill a folder of that name.
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        const bool asked =
            argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h");
        std::fputs(kUsage, asked ? stdout : stderr);
        return asked ? 0 : 2;
    }
    const std::filesystem::path folder = argv[1];
    const std::string prefix = argc > 2 ? argv[2] : "";
    quaylet::testing::QuickApplication application("quaylet-screenshots");
    std::filesystem::create_directories(folder);

    int failures = 0;
    for (const auto& screenshot : quaylet::screenshots::allScreenshots()) {
        if (!screenshot.name.starts_with(prefix)) {
            continue;
        }
        const std::filesystem::path file = folder / (screenshot.name + ".png");
        try {
            screenshot.take(file);
            std::printf("%s\n", file.c_str());
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "%s: %s\n", screenshot.name.c_str(), failure.what());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
