import QtQuick

// Builds its component the first time `shown` holds and keeps the item from then on: the
// parts of a window that most openings never look at cost no memory until someone does.
Loader {
    property bool shown: false

    active: false
    onShownChanged: if (shown) active = true
    Component.onCompleted: if (shown) active = true
}
