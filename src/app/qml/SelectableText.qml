import QtQuick
import Quaylet

// A label whose text can be selected and copied, such as an error message or an identifier.
// On one line it is cut at the edge rather than wrapped. Plain text, as every label is.
TextEdit {
    property bool singleLine: false

    textFormat: TextEdit.PlainText
    readOnly: true
    selectByMouse: true
    activeFocusOnPress: false
    wrapMode: singleLine ? TextEdit.NoWrap : TextEdit.Wrap
    clip: singleLine
    color: Theme.primaryText
    selectionColor: Theme.withOpacity(Theme.accentColor, 0.3)
    selectedTextColor: color
    font.pixelSize: 12
}
