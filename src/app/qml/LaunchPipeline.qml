import QtQuick
import Quaylet

// The five steps of a launch, those behind ticked, the current one marked and explained.
Rectangle {
    id: pipeline

    property string stage
    property string source
    property int currentStep
    // While downloading: how far it has come ("312 MB of 1.1 GB · 24 s left"); while a step
    // repairs the simulator: what it does ("Restarting iPhone 16 Pro after a stuck start…").
    property string liveDetail

    readonly property var titles: source === "local"
                                  ? ["Inspect", "Choose", "Start", "Install", "Open"]
                                  : ["Find", "Get", "Ready", "Install", "Open"]

    // What the current step is doing, in the words a person reads.
    function detail(stage) {
        switch (stage) {
        case "fetching":
        case "downloading":
            return "Getting the build"
        case "verifying":
        case "extracting":
        case "inspecting":
            return "Getting ready"
        case "selecting":
            return "Choosing a Simulator"
        case "booting":
            return "Starting Simulator"
        case "installing":
            return "Installing app"
        case "launching":
            return "Opening app"
        case "running":
            return "Complete"
        default:
            return "Ready"
        }
    }

    implicitHeight: steps.implicitHeight + 16
    radius: 12
    color: Theme.underPageBackground

    Column {
        id: steps
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8

        Repeater {
            model: 5

            delegate: LaunchStepRow {
                required property int index

                objectName: "step-" + number
                width: steps.width
                number: index + 1
                title: pipeline.titles[index]
                currentStep: pipeline.currentStep
                detail: pipeline.liveDetail !== "" ? pipeline.liveDetail
                                                   : pipeline.detail(pipeline.stage)
            }
        }
    }
}
