import QtQuick
import Quaylet

// The five steps of a launch, those behind ticked, the current one marked and explained.
Rectangle {
    id: pipeline

    property int stage
    property int source
    property bool android
    property int currentStep
    // While downloading: how far it has come ("312 MB of 1.1 GB · 24 s left"); while a step
    // repairs the simulator: what it does ("Restarting iPhone 16 Pro after a stuck start…").
    property string liveDetail

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
                title: Stages.stepTitle(number, pipeline.source)
                currentStep: pipeline.currentStep
                detail: pipeline.liveDetail !== "" ? pipeline.liveDetail
                                                   : Stages.stepDetail(pipeline.stage, pipeline.android)
            }
        }
    }
}
