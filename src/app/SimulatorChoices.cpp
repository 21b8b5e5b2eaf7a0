#include "app/SimulatorChoices.h"

#include <QVariantMap>

#include <algorithm>

#include "core/support/TextComparison.h"

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

void SimulatorChoices::setDiagnostics(Diagnostics* diagnostics) {
    if (diagnostics == diagnostics_) {
        return;
    }
    if (diagnostics_) {
        disconnect(diagnostics_, nullptr, this, nullptr);
    }
    diagnostics_ = diagnostics;
    if (diagnostics_) {
        connect(diagnostics_, &Diagnostics::environmentChanged, this,
                &SimulatorChoices::optionsChanged);
    }
    emit diagnosticsChanged();
    emit optionsChanged();
}

QVariantList SimulatorChoices::options() const {
    QVariantList options;
    if (!diagnostics_) {
        return options;
    }
    for (const SimulatorDevice& device : availableSimulators(diagnostics_->environment())) {
        options.append(
            QVariantMap{{"udid", QString::fromStdString(device.udid)}, {"label", label(device)}});
    }
    return options;
}

}  // namespace quaylet
