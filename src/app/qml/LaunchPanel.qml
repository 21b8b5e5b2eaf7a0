import QtQuick
import QtQuick.Window
import Quaylet

// The launch panel's window: frameless, above other windows and never taking the focus from
// the application the user is in. The window manager is bypassed on X11 so that the panel
// shows on every workspace, which X11 window managers otherwise only grant through a state
// Qt does not set (_NET_WM_STATE_STICKY); Wayland ignores the hint and the panel stays on the
// workspace where it first appeared.
Window {
    id: panel

    required property Launch launch
    required property Account account
    signal dismissRequested()
    signal signInRequested()

    // The controller fits the window to this on every show.
    readonly property size fittingSize: Qt.size(view.implicitWidth, view.implicitHeight)

    title: "Quaylet"
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint | Qt.WindowDoesNotAcceptFocus
           | Qt.X11BypassWindowManagerHint
    color: "transparent"

    LaunchHUDView {
        id: view
        objectName: "launchView"
        anchors.fill: parent
        launch: panel.launch
        account: panel.account
        onDismissRequested: panel.dismissRequested()
        onSignInRequested: panel.signInRequested()
    }
}
