import QtQuick
import Quaylet

// A system symbol, drawn from the icon set in one colour.
SymbolImage {
    property real size: 12

    // Implicit, so that a layout sizes it as it is: a layout that runs before the width is
    // set would otherwise squeeze the symbol to nothing.
    implicitWidth: size
    implicitHeight: size
    color: Theme.primaryText
    Accessible.ignored: true
}
