import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// A push button in the styles the views use: bordered, or prominent (filled with the
// accent colour); small, regular or large; destructive actions read in red.
Button {
    id: control

    property bool prominent: false
    property bool destructive: false
    property string size: "regular"  // "small", "regular" or "large"
    property string symbol: ""

    readonly property real fontSize: size === "small" ? 11 : size === "large" ? 14 : 13
    readonly property color foreground: prominent ? "white"
                                                  : destructive ? Theme.red : Theme.primaryText

    horizontalPadding: size === "small" ? 9 : size === "large" ? 18 : 12
    verticalPadding: size === "small" ? 3 : size === "large" ? 8 : 5
    font.pixelSize: fontSize
    font.weight: prominent ? Font.DemiBold : Font.Normal
    opacity: enabled ? 1 : 0.45

    contentItem: Row {
        spacing: 5
        SymbolIcon {
            visible: control.symbol !== ""
            symbol: control.symbol
            size: control.fontSize
            color: control.foreground
            anchors.verticalCenter: parent.verticalCenter
        }
        PlainText {
            text: control.text
            font: control.font
            color: control.foreground
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    background: Rectangle {
        implicitHeight: control.size === "small" ? 20 : control.size === "large" ? 32 : 24
        radius: control.size === "large" ? 8 : 6
        color: control.prominent
               ? (control.down ? Qt.darker(Theme.accentColor, 1.15) : Theme.accentColor)
               : (control.down ? Theme.underPageBackground : Theme.controlBackground)
        border.width: control.prominent ? 0 : 1
        border.color: Theme.withOpacity(Theme.primaryText, 0.15)

        FocusRing {
            shown: control.visualFocus
            cornerRadius: parent.radius
        }
    }
}
