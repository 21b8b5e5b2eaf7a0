#pragma once

namespace quaylet {

// The desktop's setting that turns animations off; one implementation per platform, in a
// file free of Qt so that the platform's own headers can be used as they are.
bool desktopDisablesAnimations();

}  // namespace quaylet
