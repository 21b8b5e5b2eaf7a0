import QtQuick
import QtQuick.Layouts
import Quaylet

// The signed-in user's builds, less the one the card above already offers; or why there
// are none.
Item {
    id: list

    required property var appState

    readonly property var rows: appState.builds.filter(
                                    build => build.previewId !== appState.receivedPreviewID)
    readonly property bool failed: appState.buildsError != null
    readonly property bool empty: !failed && rows.length === 0 && !appState.isLoadingBuilds

    implicitHeight: failed ? errorText.implicitHeight + 24
                   : empty ? emptyState.implicitHeight + 52
                   : rows.length > 0 ? rowsBox.implicitHeight
                   : 0

    PlainText {
        id: errorText
        objectName: "buildsError"
        visible: list.failed
        anchors.fill: parent
        anchors.margins: 12
        text: list.appState.buildsError ?? ""
        font.pixelSize: 12
        color: Theme.secondaryText
        wrapMode: Text.Wrap
    }

    ColumnLayout {
        id: emptyState
        objectName: "buildsEmptyState"
        visible: list.empty
        anchors.centerIn: parent
        width: parent.width
        spacing: 6

        SymbolIcon {
            symbol: "tray"
            size: 20
            color: Theme.secondaryText
            Layout.alignment: Qt.AlignHCenter
        }

        PlainText {
            text: "No other builds yet"
            font.pixelSize: 13
            color: Theme.primaryText
            Layout.alignment: Qt.AlignHCenter
        }

        PlainText {
            text: "Every pull request in a connected repository shows up here when its build is ready."
            font.pixelSize: 12
            color: Theme.secondaryText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }
    }

    Rectangle {
        id: rowsBox
        objectName: "buildRows"
        visible: !list.failed && list.rows.length > 0
        width: parent.width
        implicitHeight: rowsColumn.implicitHeight
        radius: 12
        color: Theme.underPageBackground

        Column {
            id: rowsColumn
            width: parent.width

            Repeater {
                model: list.rows

                delegate: Column {
                    id: entry
                    required property var modelData
                    required property int index

                    width: rowsColumn.width

                    BuildRow {
                        objectName: "buildRow-" + entry.modelData.previewId
                        width: parent.width
                        summary: entry.modelData
                        appState: list.appState
                    }

                    Rectangle {
                        visible: entry.index < list.rows.length - 1
                        x: 14
                        width: parent.width - 14
                        height: 1
                        color: Theme.separator
                    }
                }
            }
        }
    }
}
