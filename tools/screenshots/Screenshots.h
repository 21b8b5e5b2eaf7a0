#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quaylet::screenshots {

// One picture of the interface in one situation, written as <name>.png into the folder.
struct Screenshot {
    std::string name;
    std::function<void(const std::filesystem::path& file)> take;
};

// Each file of screenshots adds its own at start-up:
//     const bool added = addScreenshots({...});
bool addScreenshots(std::vector<Screenshot> screenshots);
const std::vector<Screenshot>& allScreenshots();

}  // namespace quaylet::screenshots
