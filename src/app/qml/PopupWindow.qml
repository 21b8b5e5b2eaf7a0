import QtQuick
import QtQuick.Window
import Quaylet

// The pop-up of the tray item: frameless, and gone as soon as the user turns elsewhere.
Window {
    id: window

    required property var appState
    required property UpdateAction updateAction

    title: "Quaylet"
    width: 540
    height: 560
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    onActiveChanged: {
        if (!active && visible)
            hide()
    }
    onVisibleChanged: visible ? content.shown() : content.dismissed()

    ContentView {
        id: content
        anchors.fill: parent
        appState: window.appState
        updateAction: window.updateAction
    }
}
