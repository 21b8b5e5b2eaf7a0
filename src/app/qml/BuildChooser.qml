import QtQuick.Dialogs

// A folder chooser, since a build is an app bundle, which is a folder. In a file of its own
// so that the dialogs' library loads only when someone first asks for a build from disk.
FolderDialog {
    objectName: "buildChooser"
    title: "Choose an iOS Simulator build"
    acceptLabel: "Run build"
}
