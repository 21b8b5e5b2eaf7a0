import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// The settings' on/off switch: the accent colour when on, a focus ring when the keyboard is
// on it. The row's own label names the switch; the style's would be a second one.
Switch {
    id: control

    // As wide as the track, so that a row's end lines up with the buttons of the other rows.
    padding: 0
    implicitWidth: implicitIndicatorWidth
    implicitHeight: implicitIndicatorHeight
    contentItem: Item {}

    indicator: Rectangle {
        x: control.leftPadding
        y: (control.height - height) / 2
        implicitWidth: 36
        implicitHeight: 20
        radius: 10
        color: control.checked ? Theme.accentColor : Theme.separator

        FocusRing {
            shown: control.visualFocus
            cornerRadius: parent.radius
        }

        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: 16
            height: 16
            radius: 8
            color: "white"
        }
    }
}
