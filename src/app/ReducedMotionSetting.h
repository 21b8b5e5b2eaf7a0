#pragma once

#include <functional>
#include <memory>

namespace quaylet {

// The desktop's setting that turns animations off; one implementation per platform, in a
// file free of Qt so that the platform's own headers can be used as they are.
bool desktopDisablesAnimations();

// Calls back on the main thread each time the person changes that setting, for as long as
// the returned handle lives.
std::shared_ptr<void> watchDesktopAnimations(std::function<void()> changed);

}  // namespace quaylet
