#include "Screenshots.h"
#include "appsupport/QuickScene.h"
#include "appsupport/StateDriver.h"

#include "app/UpdateAction.h"

namespace quaylet::screenshots {
namespace {

using testing::QuickScene;
using testing::StateDriver;

const bool added = addScreenshots({
    {"window-ui-testing",
     [](const std::filesystem::path& file) {
         StateDriver driver;
         UpdateAction updates([] {});
         QuickScene scene("PreviewWindow",
                          {{"appState", QVariant::fromValue<QObject*>(&driver.state())},
                           {"updateAction", QVariant::fromValue(&updates)}});
         scene.saveImage(file);
     }},
});

}  // namespace
}  // namespace quaylet::screenshots
