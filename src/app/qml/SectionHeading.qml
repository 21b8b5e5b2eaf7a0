import QtQuick
import QtQuick.Layouts
import Quaylet

// The heading at the top of a tab: a small capitalised eyebrow, the title and one line
// saying what the tab is for.
ColumnLayout {
    id: root

    property string eyebrow
    property string title
    property string detail

    spacing: 4

    PlainText {
        objectName: root.objectName + "Eyebrow"
        text: root.eyebrow
        font.pixelSize: 11
        font.weight: Font.DemiBold
        font.letterSpacing: 0.6
        color: Theme.secondaryText
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    PlainText {
        objectName: root.objectName + "Title"
        text: root.title
        font.pixelSize: 24
        font.weight: Font.DemiBold
        font.letterSpacing: -0.35
        color: Theme.primaryText
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    PlainText {
        objectName: root.objectName + "Detail"
        Layout.fillWidth: true
        text: root.detail
        font.pixelSize: 14
        color: Theme.primaryText
        wrapMode: Text.Wrap
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
}
