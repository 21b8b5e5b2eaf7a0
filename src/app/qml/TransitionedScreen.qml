import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// One screen of the Preview tab. It fades in while moving up 5 points into place and leaves
// the same way back; with reduced motion the change is immediate. The screen inside is at
// least as tall as the area, so its flexible space can spread, and one taller than the
// window scrolls instead of being cut off. The screen is built the first time it is shown.
ScrollView {
    id: slot

    property bool shown: false
    default property Component screen

    anchors.fill: parent
    contentWidth: availableWidth
    opacity: shown ? 1 : 0
    visible: opacity > 0
    // A leaving screen takes no more clicks while it fades.
    enabled: shown

    transform: Translate {
        y: slot.shown ? 0 : 5

        Behavior on y {
            enabled: !Theme.reduceMotion
            NumberAnimation {
                duration: 220
                easing.type: Easing.OutQuad
            }
        }
    }

    Behavior on opacity {
        enabled: !Theme.reduceMotion
        NumberAnimation {
            duration: 220
            easing.type: Easing.OutQuad
        }
    }

    BuiltWhenShown {
        shown: slot.shown
        sourceComponent: slot.screen
    }
}
