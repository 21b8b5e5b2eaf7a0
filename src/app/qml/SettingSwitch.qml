import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// The settings' on/off switch: the accent colour when on.
Switch {
    id: control

    indicator: Rectangle {
        x: control.leftPadding
        y: (control.height - height) / 2
        implicitWidth: 36
        implicitHeight: 20
        radius: 10
        color: control.checked ? Theme.accentColor : Theme.separator

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
