#include "app/SimulatorChoices.h"

#include <QVariantMap>

#include <algorithm>

#include "core/support/TextComparison.h"
#include "feature/AppState.h"

namespace quaylet {

std::vector<SimulatorDevice> SimulatorChoices::availableSimulators(
    const std::optional<EnvironmentSnapshot>& environment) {
    std::vector<SimulatorDevice> devices;
    if (!environment || !environment->inventory) {
        return devices;
    }
    std::ranges::copy_if(environment->inventory->devices, std::back_inserter(devices),
                         &SimulatorDevice::isAvailable);
    // Stable, so devices the order treats as equal keep the listing's order.
    std::ranges::stable_sort(devices,
                             [](const SimulatorDevice& left, const SimulatorDevice& right) {
                                 if (left.runtime.version != right.runtime.version) {
                                     return left.runtime.version > right.runtime.version;
                                 }
                                 return naturalCompare(left.name, right.name) < 0;
                             });
    return devices;
}

QString SimulatorChoices::label(const SimulatorDevice& device) {
    return QString::fromStdString(device.name + " — iOS " + device.runtime.version.description());
}

QObject* SimulatorChoices::appState() const {
    return state_;
}

void SimulatorChoices::setAppState(QObject* state) {
    auto* appState = qobject_cast<AppState*>(state);
    if (appState == state_) {
        return;
    }
    if (state_) {
        disconnect(state_, nullptr, this, nullptr);
    }
    state_ = appState;
    if (state_) {
        connect(state_, &AppState::environmentChanged, this, &SimulatorChoices::optionsChanged);
    }
    emit appStateChanged();
    emit optionsChanged();
}

QVariantList SimulatorChoices::options() const {
    QVariantList options;
    if (!state_) {
        return options;
    }
    for (const SimulatorDevice& device : availableSimulators(state_->environment())) {
        options.append(
            QVariantMap{{"udid", QString::fromStdString(device.udid)}, {"label", label(device)}});
    }
    return options;
}

}  // namespace quaylet
