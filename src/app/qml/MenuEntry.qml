import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// One entry of a PopupMenu, its label plain text, with a note beside it that says why an
// entry is greyed out ("current").
MenuItem {
    id: entry

    property string note: ""
    property bool destructive: false

    implicitHeight: 26
    leftPadding: 10
    rightPadding: 10
    topPadding: 0
    bottomPadding: 0
    font.pixelSize: 13

    // Measured from the texts alone, which know their widths before the menu first shows.
    contentItem: Item {
        implicitWidth: label.implicitWidth + (entry.note !== "" ? 10 + noteText.implicitWidth : 0)
        implicitHeight: label.implicitHeight

        PlainText {
            id: label
            anchors.verticalCenter: parent.verticalCenter
            text: entry.text
            font: entry.font
            color: !entry.enabled ? Theme.secondaryText
                                  : entry.highlighted ? "white"
                                  : entry.destructive ? Theme.red : Theme.primaryText
        }

        PlainText {
            id: noteText
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            visible: entry.note !== ""
            text: entry.note
            font.pixelSize: 11
            color: Theme.secondaryText
        }
    }

    // The highlight follows the keyboard as well as the pointer, so it marks the focus too.
    background: Rectangle {
        radius: 5
        color: entry.highlighted && entry.enabled ? Theme.accentColor : "transparent"
    }
}
