import QtQuick
import QtQuick.Layouts
import Quaylet

// Why the last launch failed, above whichever screen follows it.
Rectangle {
    id: banner

    property string message
    signal dismissed()

    implicitHeight: row.implicitHeight + 28
    radius: 10
    color: Theme.withOpacity(Theme.red, 0.07)
    border.width: 1
    border.color: Theme.withOpacity(Theme.red, 0.2)
    // Read as one alert, what failed and why; "Dismiss" stays a control of its own.
    Accessible.role: Accessible.AlertMessage
    Accessible.name: errorTitle.text + ", " + message

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 14
        spacing: 10

        SymbolIcon {
            symbol: "exclamationmark.triangle.fill"
            size: 14
            color: Theme.red
            Layout.alignment: Qt.AlignTop
            Layout.topMargin: 1
        }

        ColumnLayout {
            spacing: 3
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignTop

            PlainText {
                id: errorTitle
                objectName: "errorTitle"
                text: "Couldn’t open this build"
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: Theme.primaryText
            }

            SelectableText {
                objectName: "errorMessage"
                text: banner.message
                color: Theme.secondaryText
                Layout.fillWidth: true
                Accessible.ignored: true
            }
        }

        ActionButton {
            objectName: "dismissErrorButton"
            text: "Dismiss"
            size: "small"
            Layout.alignment: Qt.AlignTop
            onClicked: banner.dismissed()
        }
    }
}
