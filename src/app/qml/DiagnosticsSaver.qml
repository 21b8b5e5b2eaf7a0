import QtQuick.Dialogs

// Where to save the diagnostics bundle. In a file of its own, like the build chooser, so that
// the dialogs' library loads only when someone first asks.
FileDialog {
    objectName: "diagnosticsSaver"
    title: "Save Diagnostics"
    fileMode: FileDialog.SaveFile
    defaultSuffix: "zip"
    nameFilters: ["Zip archives (*.zip)"]
    selectedFile: "Quaylet Diagnostics.zip"
    acceptLabel: "Save"
}
