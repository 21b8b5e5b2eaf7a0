import QtQuick
import QtQuick.Controls.Basic
import Quaylet

// A menu in the window's style: rounded, lightly bordered, as wide as its widest entry, and
// opened below its button, or above it where the window has no room below; never over it.
Menu {
    id: menu

    // The control the menu belongs to.
    property Item button: parent

    function widestEntry() {
        let widest = 0
        for (let i = 0; i < count; ++i)
            widest = Math.max(widest, itemAt(i).implicitWidth)
        return widest
    }

    padding: 4
    margins: 4
    onAboutToShow: {
        width = widestEntry() + leftPadding + rightPadding
        y = button.height + 4
    }
    // Its height is only known once open: where the window has no room below the button,
    // the menu goes above it rather than over it.
    onOpened: {
        const window = button.Window.window
        if (window && button.mapToItem(null, 0, y).y + height + margins > window.height)
            y = -height - 4
    }

    background: Rectangle {
        radius: 8
        color: Theme.controlBackground
        border.width: 1
        border.color: Theme.withOpacity(Theme.primaryText, 0.12)
    }
}
