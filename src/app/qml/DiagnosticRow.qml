import QtQuick
import QtQuick.Layouts
import Quaylet

// One check of the Mac's readiness: whether it passes, what was checked and what was found.
// An informational row (what the computer has for Android builds) neither passes nor fails:
// a dot, green where success says so, stands where the verdict would.
RowLayout {
    id: root

    property string title
    property string value
    property bool success: false
    property bool informational: false
    property int titleWidth: 112

    Layout.preferredHeight: 39
    spacing: 10
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ", " + value
                     + (informational ? "" : success ? ", passed" : ", failed")

    SymbolIcon {
        objectName: root.objectName + "Icon"
        visible: !root.informational
        symbol: root.success ? "checkmark.circle.fill" : "xmark.circle.fill"
        color: root.success ? Theme.green : Theme.red
        size: 14
    }

    Item {
        visible: root.informational
        implicitWidth: 14
        implicitHeight: 14

        Rectangle {
            anchors.centerIn: parent
            width: 8
            height: 8
            radius: 4
            color: root.success ? Theme.green : Theme.separator
        }
    }

    PlainText {
        Layout.preferredWidth: root.titleWidth
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
