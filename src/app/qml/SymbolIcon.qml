import QtQuick
import QtQuick.Controls.impl
import Quaylet

// A system symbol, drawn from the icon set in one colour.
IconImage {
    property string symbol
    property real size: 12

    name: Symbols.iconName(symbol)
    source: Symbols.shippedSource(symbol)
    sourceSize: Qt.size(size, size)
    width: size
    height: size
    color: Theme.primaryText
    Accessible.ignored: true
}
