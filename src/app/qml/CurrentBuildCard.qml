import QtQuick
import QtQuick.Layouts
import Quaylet

// The build the last link named, ready to run again.
Rectangle {
    id: card

    required property AppState appState
    property string previewID

    // The list's entry for the build, when the list has one.
    readonly property var summary: appState.buildsList.records.find(build => build.previewId === previewID)
                                   ?? null
    // Whose pull request it is: the list's entry, or the manifest of the launch.
    readonly property var pullRequestOf: summary ?? (appState.launch.activePreview
                                                     && appState.launch.activePreview.previewId === previewID
                                                     ? appState.launch.activePreview : null)
    // The state's own texts (activeAppName, activeDetail) may speak of another launch or of a
    // setting: the card says only what holds for this build now.
    readonly property bool running: appState.launch.report != null && appState.launch.activePreview != null
                                    && appState.launch.activePreview.previewId === previewID
    readonly property string origin: {
        if (running)
            return "Running in " + appState.launch.report.simulator.name
        switch (appState.launch.receivedFrom) {
        case "link":
            return "From the link you clicked"
        case "notification":
            return "Opened from a notification"
        case "watch":
            return "Opened automatically for a watched pull request"
        default:
            return "Opened from the list"
        }
    }

    implicitHeight: row.implicitHeight + 28
    radius: 12
    color: Theme.withOpacity(Theme.accentColor, 0.08)
    border.width: 1
    border.color: Theme.withOpacity(Theme.accentColor, 0.25)

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: 14
        spacing: 12

        Rectangle {
            Layout.preferredWidth: 46
            Layout.preferredHeight: 46
            radius: 10
            color: Theme.withOpacity(Theme.accentColor, 0.12)

            SymbolIcon {
                anchors.centerIn: parent
                symbol: "arrow.down.app.fill"
                size: 18
                color: Theme.accentColor
            }
        }

        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true

            ElidedLine {
                objectName: "currentBuildOrigin"
                text: card.origin
                font.pixelSize: 12  // 11.5 points, rounded to whole pixels
                font.weight: Font.Medium
                color: card.running ? Theme.green : Theme.accentColor
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            ElidedLine {
                objectName: "currentBuildTitle"
                text: card.pullRequestOf ? card.pullRequestOf.displayName : "Pull request build"
                font.pixelSize: 19
                font.weight: Font.DemiBold
                font.letterSpacing: -0.3
                color: Theme.primaryText
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            BuildDetailText {
                objectName: "currentBuildDetail"
                summary: card.pullRequestOf
                fallback: "Build " + card.previewID
                font.pixelSize: 12
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        WatchToggle {
            visible: card.pullRequestOf !== null
            watcher: card.appState.watcher
            repository: card.pullRequestOf ? card.pullRequestOf.repository : ""
            pullRequest: card.pullRequestOf ? card.pullRequestOf.pullRequest : 0
        }

        ActionButton {
            objectName: "runInSimulatorButton"
            text: card.summary?.platformTag === "Android" ? "Run on Emulator" : "Run in Simulator"
            symbol: "play.fill"
            prominent: true
            onClicked: card.appState.launch.open(card.previewID)
        }
    }
}
