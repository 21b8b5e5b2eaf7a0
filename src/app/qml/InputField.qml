import QtQuick
import QtQuick.Templates as T
import Quaylet

// A one-line text field in the window's style. The template, not the styled field: the
// style's placeholder reads markup, and every label of the views is plain text.
T.TextField {
    id: field

    property string placeholder: ""

    implicitWidth: 120
    implicitHeight: 28
    leftPadding: 8
    rightPadding: 8
    verticalAlignment: TextInput.AlignVCenter
    color: Theme.primaryText
    selectionColor: Theme.accentColor
    font.pixelSize: 13
    selectByMouse: true

    PlainText {
        x: field.leftPadding
        width: field.availableWidth
        height: field.height
        verticalAlignment: Text.AlignVCenter
        text: field.placeholder
        color: Theme.secondaryText
        font: field.font
        elide: Text.ElideRight
        visible: field.length === 0 && field.preeditText === ""
    }

    background: Rectangle {
        implicitHeight: 28
        radius: 6
        color: Theme.controlBackground
        border.width: 1
        border.color: Theme.withOpacity(Theme.primaryText, 0.15)

        FocusRing {
            shown: field.activeFocus
        }
    }
}
