// Updates on macOS: Sparkle's standard updater controller, started at launch with no
// delegates. Its feed, signing keys, schedule and dialogs come from the bundle's Info.plist,
// so the check the user asks for is the whole of our part.
#import <Sparkle/Sparkle.h>

#include "app/UpdateController.h"

namespace quaylet {
namespace {

class SparkleUpdateController : public UpdateController {
  public:
    SparkleUpdateController()
        : controller_([[SPUStandardUpdaterController alloc] initWithStartingUpdater:YES
                                                                    updaterDelegate:nil
                                                                 userDriverDelegate:nil]),
          updater_(controller_.updater) {}

    // Sparkle shows the outcome in its own windows, so checkStarted and checkFinished are
    // never sent.
    void checkForUpdates() override { [updater_ checkForUpdates]; }

  private:
    SPUStandardUpdaterController* controller_;
    SPUUpdater* updater_;
};

}  // namespace

std::unique_ptr<UpdateController> makeUpdateController() {
    return std::make_unique<SparkleUpdateController>();
}

}  // namespace quaylet
