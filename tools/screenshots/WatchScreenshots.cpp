#include <QQuickItem>

#include <chrono>

#include "Screenshots.h"
#include "app/UpdateAction.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"
#include "core/errors/QuayletError.h"
#include "core/service/RemotePreviewLauncher.h"

namespace quaylet::screenshots {
namespace {

using testing::QuickScene;
using testing::StateDriver;
using namespace std::chrono_literals;

PreviewSummary build(const std::string& previewID, const std::string& title, int pullRequest,
                     const std::string& commitSha, std::chrono::minutes age) {
    PreviewSummary summary = testing::makeSummary(previewID, "Weather");
    summary.repository = "octo/weather";
    summary.pullRequest = pullRequest;
    summary.pullRequestTitle = title;
    summary.commitSha = commitSha;
    summary.createdAt = std::chrono::system_clock::now() - age;
    return summary;
}

// The builds list with two watched pull requests: one opens its new builds at once, the
// other has a new build fetched ahead that no notification could announce, or one too large
// for the cache to fetch ahead. With a control named, the keyboard's focus is on it.
void watchedBuilds(const std::filesystem::path& file, const QString& focused = {},
                   bool tooLarge = false) {
    StateDriver driver;
    const PreviewSummary forecast =
        build("wx-128", "Redesign the forecast card", 128, "9f3c2a7e41d08b6c5a2e", 90min);
    const PreviewSummary hourly =
        build("wx-131", "Add hourly precipitation chart", 131, "4be81d05c7a93f62e1d0", 60min);
    const PreviewSummary location =
        build("wx-133", "Fix crash when location is denied", 133, "c20d9e6f8a1b47d3905e", 30min);
    driver.loadBuilds({location, hourly, forecast});
    PullRequestWatcher& watcher = driver.state().watcher();
    watcher.setWatched("octo/weather", 128, true);
    watcher.setWatched("octo/weather", 133, true);
    watcher.setOpenAutomatically("octo/weather", 133, true);
    driver.previewService().previews = {
        build("wx-140", "Redesign the forecast card", 128, "e71a4c93b05d28f6a4c1", 1min), location,
        hourly, forecast};
    if (tooLarge) {
        driver.previewService().prefetchFailure =
            std::make_exception_ptr(QuayletError::previewUnavailable(
                std::string(RemotePreviewLauncher::kLargerThanTheCacheMessage)));
    }
    watcher.start(nullptr);
    testing::waitFor([&] {
        return !watcher.readyBuilds().empty() ||
               watcher.property("unfetchedBuilds").toMap().contains("wx-140");
    });
    testing::waitFor([&] { return !driver.state().buildsList().isLoadingBuilds(); });
    UpdateAction updates([] {});
    QuickScene scene("ContentView", {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                                     {"updateAction", QVariant::fromValue(&updates)}});
    if (!focused.isEmpty()) {
        const QStringList path = focused.split('/');
        qobject_cast<QQuickItem*>(&QuickScene::find(scene.find(path[0]), path[1]))
            ->forceActiveFocus(Qt::TabFocusReason);
    }
    scene.saveImage(file);
}

const bool added = addScreenshots({
    {"preview-home-watched", [](const std::filesystem::path& file) { watchedBuilds(file); }},
    {"focus-watched-row",
     [](const std::filesystem::path& file) { watchedBuilds(file, "buildRow-wx-133/watchToggle"); }},
    {"preview-home-watched-too-large",
     [](const std::filesystem::path& file) { watchedBuilds(file, {}, true); }},
});

}  // namespace
}  // namespace quaylet::screenshots
