import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Quaylet

// Whether this Mac has what simulator builds need, as of the last diagnosis, and a way to
// try a build from disk.
Item {
    id: root

    required property AppState appState
    required property UserSettings userSettings

    readonly property var environment: appState.diagnostics.environment
    readonly property int availableDeviceCount: simulators.options.length
    property QtObject buildChooser: null
    property QtObject diagnosticsSaver: null

    // Asks for a build on disk; the chooser's confirmation runs it. The chooser is made the
    // first time, in the tab's window as it is then.
    function chooseBuild() {
        if (!buildChooser) {
            buildChooser = Qt.createComponent("BuildChooser.qml").createObject(root)
            buildChooser.accepted.connect(() => root.runChosenBuild(buildChooser.selectedFolder))
        }
        buildChooser.open()
    }

    // Asks where the bundle goes, then writes it; made the first time, like the chooser.
    function saveDiagnostics() {
        if (!diagnosticsSaver) {
            diagnosticsSaver = Qt.createComponent("DiagnosticsSaver.qml").createObject(
                        root, {parentWindow: root.Window.window})
            diagnosticsSaver.accepted.connect(
                        () => root.appState.diagnostics.saveDiagnostics(diagnosticsSaver.selectedFile))
        }
        diagnosticsSaver.open()
    }

    // The launch then shows on the Preview tab and in the launch panel; this tab stays.
    function runChosenBuild(folder) {
        if (folder.toString() === "")
            return
        appState.launch.runLocalApplication(folder, userSettings.preferredSimulatorUDID,
                                     userSettings.activateSimulator)
    }

    implicitWidth: column.implicitWidth + 48
    implicitHeight: column.implicitHeight + 48

    SimulatorChoices {
        id: simulators
        diagnostics: root.appState.diagnostics
    }

    Shortcut {
        sequence: StandardKey.Open
        enabled: root.visible && !root.appState.launch.isLaunchInProgress
        onActivated: root.chooseBuild()
    }

    ColumnLayout {
        id: column
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 24
        spacing: Theme.partSpacing

        SectionHeading {
            objectName: "diagnosticsHeading"
            Layout.fillWidth: true
            eyebrow: Theme.thisComputer.toUpperCase()
            title: Theme.onMac ? "Mac readiness" : "Computer readiness"
            detail: "Check the tools Quaylet needs to run iOS builds."
        }

        RowLayout {
            objectName: "checkingRow"
            visible: root.appState.diagnostics.isCheckingEnvironment && !root.environment
            spacing: 10

            BusyIndicator {
                implicitWidth: 18
                implicitHeight: 18
                padding: 0
                running: parent.visible
            }

            PlainText {
                objectName: "checkingText"
                text: "Checking Xcode and Simulator…"
                font.pixelSize: 14
                color: Theme.primaryText
            }
        }

        ColumnLayout {
            objectName: "readiness"
            Layout.fillWidth: true
            visible: !!root.environment
            spacing: Theme.pieceSpacing

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: checks.implicitHeight
                radius: 10
                color: Theme.underPageBackground

                ColumnLayout {
                    id: checks
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.leftMargin: 14
                    anchors.rightMargin: 14
                    spacing: 0

                    DiagnosticRow {
                        objectName: "xcodeCheck"
                        Layout.fillWidth: true
                        title: "Xcode"
                        success: !!root.environment && root.environment.xcodePath != null
                        value: root.environment ? root.environment.xcodePath ?? "Not found" : ""
                    }
                    Divider {}
                    DiagnosticRow {
                        objectName: "simulatorToolsCheck"
                        Layout.fillWidth: true
                        title: "Simulator tools"
                        success: !!root.environment && root.environment.simctlPath != null
                        value: root.environment ? root.environment.simctlPath ?? "Not found" : ""
                    }
                    Divider {}
                    DiagnosticRow {
                        objectName: "architectureCheck"
                        Layout.fillWidth: true
                        title: Theme.onMac ? "Mac architecture" : "Architecture"
                        success: !!root.environment && root.environment.architecture !== "unknown"
                        value: root.environment ? root.environment.architecture : ""
                    }
                    Divider {}
                    DiagnosticRow {
                        objectName: "simulatorDevicesCheck"
                        Layout.fillWidth: true
                        title: "Simulator devices"
                        success: root.availableDeviceCount > 0
                        value: root.availableDeviceCount + " available"
                    }
                    Divider {}
                    DiagnosticRow {
                        objectName: "simulatorWindowCheck"
                        Layout.fillWidth: true
                        title: "Simulator window"
                        // Some form of it always opens; which one is what is worth knowing.
                        success: !!root.environment
                        value: root.environment ? root.environment.simulatorWindow : ""
                    }
                }
            }

            RowLayout {
                id: statusRow
                Layout.fillWidth: true
                spacing: 8

                readonly property bool ready: !!root.environment
                                              && root.environment.failures.length === 0

                SymbolIcon {
                    objectName: "readinessIcon"
                    symbol: statusRow.ready ? "checkmark.circle.fill"
                                            : "exclamationmark.triangle.fill"
                    color: statusRow.ready ? Theme.green : Theme.red
                    size: 14
                }

                PlainText {
                    objectName: "readinessStatus"
                    text: statusRow.ready ? (Theme.onMac ? "This Mac is ready" : "This computer is ready")
                                          : "Action required"
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    color: Theme.primaryText
                }

                Item {
                    Layout.fillWidth: true
                }

                ActionButton {
                    objectName: "runDiagnosticsButton"
                    text: "Run diagnostics"
                    enabled: !root.appState.diagnostics.isCheckingEnvironment
                    onClicked: root.appState.diagnostics.runDiagnostics()
                }
            }

            // A plain column, so that a wrapped line pushes the next one down. Hidden when
            // empty, so that no spacing is left below the status row.
            Column {
                id: failureLines
                Layout.fillWidth: true
                visible: !!root.environment && root.environment.failures.length > 0
                spacing: 4

                Repeater {
                    objectName: "failures"
                    model: root.environment ? root.environment.failures : []

                    delegate: BalancedText {
                        required property string modelData

                        width: failureLines.width
                        // The way on that a failure names elsewhere is this tab's own button.
                        text: modelData.replace("Open Diagnostics, then try again.",
                                                "Run the check again.")
                        font.pixelSize: 12
                        color: Theme.red
                    }
                }
            }
        }

        // What the computer has for Android builds: shown beside the readiness, never part of it.
        ColumnLayout {
            id: androidSection
            objectName: "androidSection"
            Layout.fillWidth: true
            visible: !!root.environment
            spacing: Theme.pieceSpacing

            readonly property var android: root.environment ? root.environment.android : null
            readonly property bool installed: !!android && android.isInstalled
            // Room for emulator names as the SDK makes them, "Pixel_Tablet_API_35".
            readonly property int titleWidth: 150

            PlainText {
                text: "Android"
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: Theme.primaryText
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }

            Rectangle {
                Layout.fillWidth: true
                visible: androidSection.installed
                implicitHeight: androidChecks.implicitHeight
                radius: 10
                color: Theme.underPageBackground

                ColumnLayout {
                    id: androidChecks
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.leftMargin: 14
                    anchors.rightMargin: 14
                    spacing: 0

                    DiagnosticRow {
                        objectName: "androidSdkCheck"
                        Layout.fillWidth: true
                        informational: true
                        titleWidth: androidSection.titleWidth
                        success: true
                        title: "SDK folder"
                        value: androidSection.installed ? androidSection.android.sdkFolder : ""
                    }
                    Divider {}
                    DiagnosticRow {
                        objectName: "adbCheck"
                        Layout.fillWidth: true
                        informational: true
                        titleWidth: androidSection.titleWidth
                        success: androidSection.installed
                                 && androidSection.android.adbVersion != null
                        title: "adb"
                        value: androidSection.installed
                               ? androidSection.android.adbVersion ?? "Not found" : ""
                    }
                    Divider {}
                    DiagnosticRow {
                        objectName: "emulatorToolCheck"
                        Layout.fillWidth: true
                        informational: true
                        titleWidth: androidSection.titleWidth
                        success: androidSection.installed
                                 && androidSection.android.emulatorVersion != null
                        title: "Emulator"
                        value: androidSection.installed
                               ? androidSection.android.emulatorVersion ?? "Not found" : ""
                    }

                    Repeater {
                        objectName: "androidEmulators"
                        model: androidSection.installed ? androidSection.android.emulators : []

                        delegate: ColumnLayout {
                            required property var modelData

                            Layout.fillWidth: true
                            spacing: 0

                            Divider {}
                            DiagnosticRow {
                                objectName: "emulator-" + modelData.name
                                Layout.fillWidth: true
                                informational: true
                                titleWidth: androidSection.titleWidth
                                success: modelData.isRunning
                                title: modelData.name
                                value: (modelData.apiLevel != null ? "API " + modelData.apiLevel
                                                                   : "API unknown")
                                       + (modelData.isRunning ? " · Running" : " · Not running")
                            }
                        }
                    }
                }
            }

            // Why there is nothing to list: no SDK, no emulators, or no listing of them.
            BalancedText {
                objectName: "androidNotice"
                Layout.fillWidth: true
                visible: !!androidSection.android && androidSection.android.notice != null
                text: visible ? androidSection.android.notice : ""
                font.pixelSize: 12
                color: Theme.secondaryText
            }
        }

        Divider {}

        ActionRow {
            objectName: "localBuildRow"
            Layout.fillWidth: true
            title: "Test a local iOS build"
            detail: "Confirm that installation and Simulator launch work on " + Theme.thisComputer + "."
            buttonText: "Choose build…"
            buttonObjectName: "chooseBuildButton"
            disabled: root.appState.launch.isLaunchInProgress
            onActivated: root.chooseBuild()
        }

        Divider {}

        ActionRow {
            objectName: "diagnosticsBundleRow"
            Layout.fillWidth: true
            title: "Diagnostics bundle"
            detail: root.appState.diagnostics.savedDiagnostics != null
                    ? "Saved to " + root.appState.diagnostics.savedDiagnostics
                    : "The checks, recent launches and settings in one .zip, with your token and "
                      + "home folder taken out."
            buttonText: "Save Diagnostics…"
            buttonObjectName: "saveDiagnosticsButton"
            onActivated: root.saveDiagnostics()
        }
    }
}
