#pragma once

#include <functional>
#include <memory>

namespace quaylet {

// The desktop's setting that turns animations off, one implementation per platform. Reports
// whether the desktop asks applications not to animate, on the main thread: once the desktop
// has answered (at once where it answers synchronously) and again each time the person
// changes the setting, for as long as the returned handle lives. Nothing is reported where
// the desktop has no such setting.
std::shared_ptr<void> followDesktopAnimations(std::function<void(bool disabled)> report);

}  // namespace quaylet
