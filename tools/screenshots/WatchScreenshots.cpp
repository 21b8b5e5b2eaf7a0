#include <chrono>

#include "Screenshots.h"
#include "app/UpdateAction.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

namespace quaylet::screenshots {
namespace {

using testing::QuickScene;
using testing::StateDriver;
using namespace std::chrono_literals;

PreviewSummary build(const std::string& previewID, const std::string& title, int pullRequest,
                     std::chrono::minutes age) {
    PreviewSummary summary = testing::makeSummary(previewID, "Weather");
    summary.repository = "octo/weather";
    summary.pullRequest = pullRequest;
    summary.pullRequestTitle = title;
    summary.commitSha = "9f3c2a7e41d08b6c5a2e";
    summary.createdAt = std::chrono::system_clock::now() - age;
    return summary;
}

// The builds list with two watched pull requests: one opens its new builds at once, the
// other has a new build fetched ahead that no notification could announce.
const bool added = addScreenshots({
    {"preview-home-watched",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         const PreviewSummary forecast = build("wx-128", "Redesign the forecast card", 128, 90min);
         const PreviewSummary hourly =
             build("wx-131", "Add hourly precipitation chart", 131, 60min);
         const PreviewSummary location =
             build("wx-133", "Fix crash when location is denied", 133, 30min);
         driver.loadBuilds({location, hourly, forecast});
         PullRequestWatcher& watcher = driver.state().watcher();
         watcher.setWatched("octo/weather", 128, true);
         watcher.setWatched("octo/weather", 133, true);
         watcher.setOpenAutomatically("octo/weather", 133, true);
         driver.previewService().previews = {
             build("wx-140", "Redesign the forecast card", 128, std::chrono::minutes(1)), location,
             hourly, forecast};
         watcher.start(nullptr);
         StateDriver::waitUntil([&] { return !watcher.readyBuilds().empty(); });
         StateDriver::waitUntil([&] { return !driver.state().isLoadingBuilds(); });
         UpdateAction updates([] {});
         QuickScene scene("ContentView",
                          {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                           {"updateAction", QVariant::fromValue(&updates)}});
         scene.saveImage(file);
     }},
});

}  // namespace
}  // namespace quaylet::screenshots
