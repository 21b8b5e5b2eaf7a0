#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include <optional>
#include <vector>

#include "core/simulator/EnvironmentSnapshot.h"
#include "feature/Diagnostics.h"

namespace quaylet {

// The simulators a person can prefer in the settings, from the last diagnosis: newer
// runtimes first, and on one runtime the names in the order a file browser lists them.
class SimulatorChoices : public QObject {
    Q_OBJECT
    Q_PROPERTY(quaylet::Diagnostics* diagnostics READ diagnostics WRITE setDiagnostics NOTIFY
                   diagnosticsChanged)
    // One map per device, {udid, label}, in the order above.
    Q_PROPERTY(QVariantList options READ options NOTIFY optionsChanged)

  public:
    explicit SimulatorChoices(QObject* parent = nullptr) : QObject(parent) {}

    // The devices marked available, in the order above; none without an inventory.
    static std::vector<SimulatorDevice> availableSimulators(
        const std::optional<EnvironmentSnapshot>& environment);
    // The device's name and its runtime version, such as "iPhone 16 — iOS 18.2.0".
    static QString label(const SimulatorDevice& device);

    Diagnostics* diagnostics() const { return diagnostics_; }
    void setDiagnostics(Diagnostics* diagnostics);
    QVariantList options() const;

  signals:
    void diagnosticsChanged();
    void optionsChanged();

  private:
    QPointer<Diagnostics> diagnostics_;
};

}  // namespace quaylet
