import QtQuick
import QtQuick.Window
import Quaylet

// The ordinary window of the --ui-testing mode: fixed size, closing only hides it.
Window {
    id: window

    required property AppState appState
    required property UpdateAction updateAction
    // The launch panel's controller, whose button the main window offers too.
    property QtObject launchPanel: null

    title: "Quaylet"
    width: 540
    height: 560
    minimumWidth: 540
    maximumWidth: 540
    minimumHeight: 560
    maximumHeight: 560
    flags: Qt.Window | Qt.CustomizeWindowHint | Qt.WindowTitleHint | Qt.WindowCloseButtonHint
           | Qt.WindowMinimizeButtonHint
    onVisibleChanged: visible ? content.shown() : content.dismissed()

    ContentView {
        id: content
        anchors.fill: parent
        appState: window.appState
        updateAction: window.updateAction
        launchPanel: window.launchPanel
    }
}
