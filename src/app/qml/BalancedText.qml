import QtQuick
import Quaylet

// A label that wraps into lines of even length, so that no word is left alone on the last
// line. A label of its own: laying out lines by hand, as this does, turns eliding off.
PlainText {
    id: label

    // The width each line keeps to: as many lines as the text needs at full width, shared
    // evenly, with room for the words not to break exactly there.
    readonly property real balancedWidth: {
        if (width <= 0 || metrics.advanceWidth <= width)
            return width
        const lines = Math.ceil(metrics.advanceWidth / width)
        return Math.min(width, metrics.advanceWidth / lines + 3 * font.pixelSize)
    }

    wrapMode: Text.Wrap
    onLineLaidOut: line => line.width = balancedWidth
    // The lines were laid out for the width before.
    onBalancedWidthChanged: forceLayout()

    TextMetrics {
        id: metrics
        font: label.font
        text: label.text
    }
}
