import QtQuick
import QtQuick.Layouts
import Quaylet

// One check of the Mac's readiness: whether it passes, what was checked and what was found.
RowLayout {
    id: root

    property string title
    property string value
    property bool success: false

    Layout.preferredHeight: 39
    spacing: 10
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ", " + value + (success ? ", passed" : ", failed")

    SymbolIcon {
        objectName: root.objectName + "Icon"
        symbol: root.success ? "checkmark.circle.fill" : "xmark.circle.fill"
        color: root.success ? Theme.green : Theme.red
        size: 14
    }

    PlainText {
        Layout.preferredWidth: 112
        text: root.title
        font.pixelSize: 13
        font.weight: Font.Medium
        color: Theme.primaryText
        elide: Text.ElideRight
    }

    SelectableLine {
        objectName: root.objectName + "Value"
        Layout.fillWidth: true
        Layout.preferredWidth: 0
        fullText: root.value
        font.pixelSize: 12
    }
}
