import QtQuick
import Quaylet

// One tool the machine needs, ticked when it is there.
Row {
    id: item

    property string name
    property bool ready: false

    spacing: 5
    Accessible.role: Accessible.StaticText
    Accessible.name: name
    Accessible.description: ready ? "Ready" : "Not ready"

    SymbolIcon {
        objectName: item.objectName + "Icon"
        anchors.verticalCenter: parent.verticalCenter
        symbol: item.ready ? "checkmark.circle.fill" : "circle.dotted"
        size: 12
        color: item.ready ? Theme.green : Theme.secondaryText
    }

    PlainText {
        anchors.verticalCenter: parent.verticalCenter
        text: item.name
        font.pixelSize: 11
        font.weight: Font.Medium
        color: Theme.secondaryText
    }
}
