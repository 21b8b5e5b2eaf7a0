import QtQuick
import QtQuick.Window
import Quaylet

// The pop-up of the tray item: frameless, and gone as soon as the user turns elsewhere.
Window {
    id: window

    required property AppState appState
    required property UpdateAction updateAction
    // The launch panel's controller, whose button the main window offers too.
    property QtObject launchPanel: null

    title: "Quaylet"
    width: 540
    height: 560
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    // Steps aside when the person turns to another application, but not when one of its own
    // windows takes the focus: the build chooser or the update dialog would go with it.
    // Whether the application is still active is only known once the focus has settled.
    function hideUnlessInUse() {
        if (visible && !active && Qt.application.state !== Qt.ApplicationActive)
            hide()
    }
    onActiveChanged: Qt.callLater(hideUnlessInUse)
    Connections {
        target: Qt.application
        function onStateChanged() { window.hideUnlessInUse() }
    }
    onVisibleChanged: visible ? content.shown() : content.dismissed()

    ContentView {
        id: content
        anchors.fill: parent
        appState: window.appState
        updateAction: window.updateAction
        launchPanel: window.launchPanel
    }
}
