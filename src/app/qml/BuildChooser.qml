import QtQuick.Dialogs
import Quaylet

// A folder chooser, since a build is an app bundle, which is a folder. In a file of its own
// so that the dialogs' library loads only when someone first asks for a build from disk.
FolderDialog {
    objectName: "buildChooser"
    title: "Choose an iOS Simulator build"
    acceptLabel: "Run build"
    // Not the folder the program happened to start in; later, where the last build came from.
    currentFolder: Desktop.homeFolder
    onAccepted: {
        const chosen = selectedFolder.toString()
        currentFolder = chosen.substring(0, chosen.lastIndexOf("/"))
    }
}
