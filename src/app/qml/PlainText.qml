import QtQuick

// The one label of the views. Titles, names, branches and messages come from pull requests,
// the service and bundles, and are shown as the characters they are: read as markup, an
// <img> in a title would fetch from wherever its author likes and tags would restyle the views.
Text {
    id: label

    // Wraps into lines of even length, so that no word is left alone on the last line.
    property bool balanced: false
    // The width each line keeps to: as many lines as the text needs at full width, shared
    // evenly, with room for the words not to break exactly there.
    readonly property real balancedWidth: {
        if (!balanced || width <= 0 || metrics.advanceWidth <= width)
            return width
        const lines = Math.ceil(metrics.advanceWidth / width)
        return Math.min(width, metrics.advanceWidth / lines + 3 * font.pixelSize)
    }

    textFormat: Text.PlainText
    onLineLaidOut: line => {
        if (balanced)
            line.width = balancedWidth
    }
    // The lines were laid out for the width before.
    onBalancedWidthChanged: if (balanced) forceLayout()

    TextMetrics {
        id: metrics
        font: label.font
        text: label.balanced ? label.text : ""
    }
}
