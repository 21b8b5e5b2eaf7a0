import QtQuick
import Quaylet

// The ring around the control that has the keyboard focus. Every control of the views wears
// one, inside its background, so a person working from the keyboard sees where they are.
Rectangle {
    // The control's focus came from the keyboard (not from a click).
    property bool shown: false
    property real cornerRadius: 6

    objectName: "focusRing"
    visible: shown
    anchors.fill: parent
    anchors.margins: -3
    radius: cornerRadius + 3
    color: "transparent"
    border.width: 2
    border.color: Theme.withOpacity(Theme.accentColor, 0.75)
}
