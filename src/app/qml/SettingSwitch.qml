import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// The views' on/off switch: the accent colour when on, a focus ring when the keyboard is on
// it. In a settings row the row's own label names the switch (the style's would be a second
// one); a small switch in a list row or a card carries its label beside the track, and is as
// wide on as off, so what stands beside it does not move when it changes.
Switch {
    id: control

    property bool small: false

    readonly property real trackHeight: small ? 14 : 20

    // As wide as the track, or as its label, which is set off by the track's width: so that a
    // row's end lines up with the buttons of the other rows.
    padding: 0
    spacing: 6
    implicitWidth: text !== "" ? implicitContentWidth : implicitIndicatorWidth
    implicitHeight: Math.max(implicitIndicatorHeight, implicitContentHeight)

    contentItem: PlainText {
        visible: control.text !== ""
        leftPadding: control.indicator.width + control.spacing
        text: control.text
        font.pixelSize: 11
        color: Theme.primaryText
        verticalAlignment: Text.AlignVCenter
        Accessible.ignored: true
    }

    indicator: Rectangle {
        x: control.leftPadding
        y: (control.height - height) / 2
        implicitWidth: control.trackHeight * 1.8
        implicitHeight: control.trackHeight
        radius: height / 2
        color: control.checked ? Theme.accentColor : Theme.separator

        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: parent.height - 4
            height: width
            radius: width / 2
            color: "white"
        }
    }

    background: Item {
        FocusRing {
            shown: control.visualFocus
            cornerRadius: control.trackHeight / 2
        }
    }
}
