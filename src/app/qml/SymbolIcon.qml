import QtQuick
import Quaylet

// A system symbol, drawn from the icon set in one colour.
SymbolImage {
    property real size: 12

    width: size
    height: size
    color: Theme.primaryText
    Accessible.ignored: true
}
