import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Qt.labs.folderlistmodel
import Quaylet

// A chooser of folders in the window's style, since a build is an app bundle, which is a
// folder, or an Android .apk, the one kind of file it shows. In a file of its own so that the folder model loads only when someone first asks
// for a build from disk. The highlighted folder is the one chosen; with none highlighted, the
// open one is, so that a bundle opened by mistake can still be run.
Dialog {
    id: chooser

    // Not the folder the program happened to start in; later, where the last build came from.
    property url currentFolder: Desktop.homeFolder
    property url selectedFolder: ""

    function openFolder(folder) {
        currentFolder = folder
        folders.currentIndex = -1
    }
    // A build is what a user is after: opening one chooses it rather than showing its insides.
    function openRow(index) {
        const folder = folderModel.get(index, "fileUrl")
        const name = folderModel.get(index, "fileName")
        if (name.endsWith(".app") || name.endsWith(".apk")) {
            folders.currentIndex = index
            accept()
        } else {
            openFolder(folder)
        }
    }
    function localPath(folder) {
        return decodeURIComponent(folder.toString().replace(/^file:\/\//, ""))
    }

    objectName: "buildChooser"
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(parent.width - 48, 460)
    height: Math.min(parent.height - 48, 440)
    modal: true
    focus: true
    padding: 16
    topPadding: 16
    onAboutToShow: folders.currentIndex = -1
    onAccepted: {
        selectedFolder = folders.currentIndex >= 0 ? folderModel.get(folders.currentIndex, "fileUrl")
                                                   : currentFolder
        const chosen = selectedFolder.toString()
        openFolder(chosen.substring(0, chosen.lastIndexOf("/")) || "file:///")
    }

    T.Overlay.modal: Rectangle {
        color: Theme.withOpacity(Theme.primaryText, 0.25)
    }

    background: Rectangle {
        radius: 10
        color: Theme.windowBackground
        border.width: 1
        border.color: Theme.withOpacity(Theme.primaryText, 0.12)
    }

    FolderListModel {
        id: folderModel
        objectName: "buildChooserModel"
        folder: chooser.currentFolder
        nameFilters: ["*.apk"]
        showDotAndDotDot: false
        sortCaseSensitive: false
    }

    contentItem: ColumnLayout {
        spacing: Theme.pieceSpacing

        PlainText {
            objectName: "buildChooserTitle"
            Layout.fillWidth: true
            text: "Choose an iOS Simulator or Android build"
            font.pixelSize: 15
            font.weight: Font.DemiBold
            color: Theme.primaryText
            wrapMode: Text.Wrap
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            ActionButton {
                objectName: "enclosingFolderButton"
                size: "small"
                symbol: "arrow.up"
                text: "Up"
                enabled: chooser.localPath(chooser.currentFolder) !== "/"
                Accessible.name: "Enclosing folder"
                onClicked: chooser.openFolder(folderModel.parentFolder)
            }

            ElidedLine {
                objectName: "buildChooserPath"
                Layout.fillWidth: true
                text: chooser.localPath(chooser.currentFolder)
                elide: Text.ElideMiddle
                color: Theme.secondaryText
                font.pixelSize: 12
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            radius: 8
            color: Theme.controlBackground
            border.width: 1
            border.color: Theme.withOpacity(Theme.primaryText, 0.15)

            ListView {
                id: folders
                objectName: "buildChooserFolders"
                anchors.fill: parent
                anchors.margins: 4
                clip: true
                focus: true
                model: folderModel
                currentIndex: -1
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar {}
                Accessible.role: Accessible.List
                Accessible.name: "Folders"
                Keys.onReturnPressed: if (currentIndex >= 0) chooser.openRow(currentIndex)
                Keys.onEnterPressed: if (currentIndex >= 0) chooser.openRow(currentIndex)
                Keys.onPressed: (event) => {
                    if (event.key === Qt.Key_Backspace) {
                        chooser.openFolder(folderModel.parentFolder)
                        event.accepted = true
                    }
                }

                delegate: Rectangle {
                    id: row
                    required property int index
                    required property string fileName
                    required property bool fileIsDir
                    readonly property bool current: ListView.isCurrentItem

                    width: ListView.view.width - 8
                    height: 26
                    radius: 5
                    color: current ? Theme.accentColor : "transparent"
                    Accessible.role: Accessible.ListItem
                    Accessible.name: fileName
                    Accessible.selected: current

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 8
                        anchors.rightMargin: 8
                        spacing: 6

                        SymbolIcon {
                            symbol: row.fileIsDir ? "folder" : "play.square.stack"
                            size: 14
                            color: row.current ? "white" : Theme.secondaryText
                        }
                        ElidedLine {
                            Layout.fillWidth: true
                            text: row.fileName
                            font.pixelSize: 13
                            color: row.current ? "white" : Theme.primaryText
                        }
                    }

                    TapHandler {
                        onTapped: {
                            folders.currentIndex = row.index
                            folders.forceActiveFocus()
                        }
                        onDoubleTapped: chooser.openRow(row.index)
                    }
                }

                PlainText {
                    anchors.centerIn: parent
                    visible: folders.count === 0 && folderModel.status === FolderListModel.Ready
                    text: "No folders here"
                    color: Theme.secondaryText
                    font.pixelSize: 13
                }
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            PlainText {
                Layout.fillWidth: true
                text: "A build is a folder whose name ends in .app, or an .apk."
                color: Theme.secondaryText
                font.pixelSize: 11
                wrapMode: Text.Wrap
            }
            ActionButton {
                objectName: "buildChooserCancel"
                text: "Cancel"
                onClicked: chooser.reject()
            }
            ActionButton {
                objectName: "buildChooserRun"
                text: "Run build"
                prominent: true
                onClicked: chooser.accept()
            }
        }
    }
}
