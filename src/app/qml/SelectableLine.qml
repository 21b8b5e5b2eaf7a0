import QtQuick
import Quaylet

// One line of text a person can select and copy. Too long for its width, it ends in an
// ellipsis; once clicked it holds the whole text, so a selection copies all of it.
TextInput {
    id: root

    property string fullText

    text: activeFocus ? fullText : metrics.elidedText
    readOnly: true
    selectByMouse: true
    clip: true
    color: Theme.secondaryText
    selectionColor: Theme.withOpacity(Theme.accentColor, 0.3)
    selectedTextColor: Theme.primaryText
    Accessible.role: Accessible.StaticText
    Accessible.name: fullText

    TextMetrics {
        id: metrics
        font: root.font
        text: root.fullText
        elide: Text.ElideRight
        elideWidth: root.width
    }
}
