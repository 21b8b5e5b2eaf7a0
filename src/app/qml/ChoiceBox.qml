import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// A pop-up of options, each a map with a "label"; labels, device names among them, are shown
// as plain text, as every label is.
ComboBox {
    id: root

    textRole: "label"
    font.pixelSize: 13

    background: Rectangle {
        implicitHeight: 26
        radius: 6
        color: Theme.controlBackground
        border.width: 1
        border.color: Theme.withOpacity(Theme.primaryText, 0.15)

        FocusRing {
            shown: root.visualFocus
        }
    }
    delegate: ItemDelegate {
        required property var modelData
        required property int index
        width: ListView.view.width
        highlighted: root.highlightedIndex === index
        contentItem: PlainText {
            text: modelData.label
            font: root.font
            color: Theme.primaryText
            elide: Text.ElideRight
        }
    }
}
