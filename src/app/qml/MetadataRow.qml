import QtQuick
import QtQuick.Layouts
import Quaylet

// One fact about a running build: a label, a value that can be copied, and a tick when the
// fact was checked.
Item {
    id: row

    property string label
    property string value
    property bool verified: false
    // The rows of a group are divided from the next one.
    property bool divided: true

    implicitHeight: 37

    RowLayout {
        anchors.fill: parent
        spacing: 8

        PlainText {
            text: row.label
            font.pixelSize: 12
            font.weight: Font.Medium
            color: Theme.secondaryText
            Layout.preferredWidth: 92
        }

        SelectableLine {
            objectName: row.objectName + "-value"
            fullText: row.value
            color: Theme.primaryText
            font.pixelSize: 12
            Layout.fillWidth: true
        }

        SymbolIcon {
            visible: row.verified
            symbol: "checkmark.circle.fill"
            size: 13
            color: Theme.green
        }
    }

    Rectangle {
        visible: row.divided
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.separator
    }
}
