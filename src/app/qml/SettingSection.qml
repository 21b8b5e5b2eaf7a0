import QtQuick
import QtQuick.Layouts
import Quaylet

// A titled group of settings on a rounded card; the rows inside are its children.
ColumnLayout {
    id: root

    property string title
    default property alias content: rows.data

    spacing: 7

    PlainText {
        text: root.title
        font.pixelSize: 12
        font.weight: Font.DemiBold
        color: Theme.secondaryText
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: rows.implicitHeight + 28
        radius: 10
        color: Theme.underPageBackground

        ColumnLayout {
            id: rows
            anchors.fill: parent
            anchors.margins: 14
            spacing: Theme.pieceSpacing
        }
    }
}
