#include "Screenshots.h"
#include "appsupport/QuickScene.h"

namespace quaylet::screenshots {
namespace {

using testing::QuickScene;

void saveUpdateDialog(const std::filesystem::path& file, const QVariantMap& properties) {
    QuickScene scene("UpdateDialog", properties);
    scene.saveImage(file);
}

const bool added = addScreenshots({
    {"update-checking", [](const std::filesystem::path& file) { saveUpdateDialog(file, {}); }},
    {"update-available",
     [](const std::filesystem::path& file) {
         saveUpdateDialog(file, {{"checking", false},
                                 {"heading", "Quaylet 1.2.0 is available"},
                                 {"message",
                                  "You have Quaylet 0.1.0. Download the new version "
                                  "from its page."},
                                 {"availableVersion", "1.2.0"},
                                 {"downloadPage", QUrl("https://quaylet.dev/releases/1.2.0")}});
     }},
    {"update-none",
     [](const std::filesystem::path& file) {
         saveUpdateDialog(file, {{"checking", false},
                                 {"heading", "Updates come with your system’s packages"},
                                 {"message",
                                  "Update Quaylet with your system’s package "
                                  "manager, together with your other software."}});
     }},
    {"update-failed",
     [](const std::filesystem::path& file) {
         saveUpdateDialog(file, {{"checking", false},
                                 {"heading", "Quaylet couldn’t check for updates"},
                                 {"message",
                                  "The update server answered with HTTP status 404. "
                                  "Try again later."}});
     }},
});

}  // namespace
}  // namespace quaylet::screenshots
