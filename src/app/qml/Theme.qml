pragma Singleton
import QtQuick
import Quaylet

// The one palette and type scale of the interface. Colours follow the light appearance of
// the system colours the views are drawn with; sizes are in device-independent pixels.
QtObject {
    readonly property color accentColor: "#3D6BF5"

    readonly property color windowBackground: "#F6F6F8"
    readonly property color underPageBackground: "#E9E9EE"
    readonly property color controlBackground: "#FFFFFF"
    readonly property color separator: "#C9C9CF"
    readonly property color primaryText: "#1D1D1F"
    readonly property color secondaryText: "#6E6E73"
    readonly property color red: "#E5332A"
    readonly property color green: "#2EAA4F"

    // The vertical rhythm of the tabs: their parts stand a whole step apart, the pieces
    // inside one part half a step.
    readonly property int partSpacing: 20
    readonly property int pieceSpacing: partSpacing / 2

    // The machine the program runs on, in words: the Mac's own texts, or "this computer" on
    // other systems.
    readonly property bool onMac: Qt.platform.os === "osx"
    readonly property string thisComputer: onMac ? "this Mac" : "this computer"

    // Views animate their state changes unless the desktop asks otherwise.
    property bool reduceMotion: Desktop.reduceMotion

    function withOpacity(colour, opacity) {
        return Qt.rgba(colour.r, colour.g, colour.b, opacity)
    }
}
