import QtQuick
import QtQuick.Layouts
import Quaylet

// The signed-in user's builds, less the one the card above already offers; or why there
// are none.
Item {
    id: list

    required property AppState appState

    readonly property var receivedID: appState.launch.receivedPreviewID
    readonly property var records: appState.buildsList.records
    readonly property int shownCount: records.filter(build => build.previewId !== receivedID).length
    // The row after which no separator follows.
    readonly property int lastShown: {
        for (let row = records.length - 1; row >= 0; --row) {
            if (records[row].previewId !== receivedID)
                return row
        }
        return -1
    }
    readonly property bool failed: appState.buildsList.buildsError != null
    readonly property bool empty: !failed && shownCount === 0 && !appState.buildsList.isLoadingBuilds

    implicitHeight: failed ? errorText.implicitHeight + 24
                   : empty ? emptyState.implicitHeight + 52
                   : shownCount > 0 ? rowsBox.implicitHeight
                   : 0

    PlainText {
        id: errorText
        objectName: "buildsError"
        visible: list.failed
        anchors.fill: parent
        anchors.margins: 12
        text: list.appState.buildsList.buildsError ?? ""
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
        visible: !list.failed && list.shownCount > 0
        width: parent.width
        implicitHeight: rowsColumn.implicitHeight
        radius: 12
        color: Theme.underPageBackground

        Column {
            id: rowsColumn
            width: parent.width

            Repeater {
                model: list.appState.buildsList

                delegate: Column {
                    id: entry
                    required property var record
                    required property bool watched
                    required property bool opensAutomatically
                    required property int index

                    visible: record.previewId !== list.receivedID
                    width: rowsColumn.width

                    BuildRow {
                        objectName: "buildRow-" + entry.record.previewId
                        width: parent.width
                        summary: entry.record
                        watched: entry.watched
                        opensAutomatically: entry.opensAutomatically
                        appState: list.appState
                    }

                    Rectangle {
                        visible: entry.index < list.lastShown
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
