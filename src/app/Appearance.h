#pragma once

namespace quaylet {

// The look the views were drawn for, whatever the desktop's own theme: the icon set the
// symbols come from, and Inter as the interface font where it is installed (the controls
// style comes with the views, addApplicationModule). Called once the application object exists,
// before any view is made.
void applyAppearance();

}  // namespace quaylet
