import QtQuick
import QtQuick.Layouts
import Quaylet

// A one-pixel line between the rows of a column.
Rectangle {
    Layout.fillWidth: true
    implicitHeight: 1
    color: Theme.separator
}
