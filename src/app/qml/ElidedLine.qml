import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// One line of text from outside (a title, a name, a branch) that keeps to its place: too
// long, it ends in "…", and the whole of it shows in a tooltip while the pointer rests on it.
// Assistive technologies read the whole text, which the cut does not change.
PlainText {
    id: line

    elide: Text.ElideRight
    maximumLineCount: 1

    HoverHandler {
        id: hover
        enabled: line.truncated
    }

    // Made only while needed: a list holds many lines.
    Loader {
        active: line.truncated && hover.hovered
        sourceComponent: ToolTip {
            id: tip
            objectName: "fullTextTip"
            parent: line
            text: line.text
            visible: true
            delay: 600
            width: Math.min(implicitWidth, 400)
            contentItem: PlainText {
                text: tip.text
                font.pixelSize: 12
                color: Theme.primaryText
                wrapMode: Text.Wrap
            }
            background: Rectangle {
                radius: 6
                color: Theme.controlBackground
                border.width: 1
                border.color: Theme.withOpacity(Theme.primaryText, 0.15)
            }
        }
    }
}
