import QtQuick
import QtQuick.Layouts
import Quaylet

// A row that offers one action: what it is and what it does on the left, its button on
// the right.
RowLayout {
    id: root

    property string title
    property alias titleObjectName: titleText.objectName
    property string detail
    property alias detailObjectName: detailText.objectName
    property alias buttonText: button.text
    property alias buttonObjectName: button.objectName
    property bool disabled: false

    signal activated

    spacing: 16

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2

        PlainText {
            id: titleText
            Layout.fillWidth: true
            text: root.title
            font.pixelSize: 13
            font.weight: Font.Medium
            color: Theme.primaryText
            wrapMode: Text.Wrap
        }

        BalancedText {
            id: detailText
            Layout.fillWidth: true
            text: root.detail
            font.pixelSize: 12
            color: Theme.secondaryText
        }
    }

    ActionButton {
        id: button
        enabled: !root.disabled
        onClicked: root.activated()
    }
}
