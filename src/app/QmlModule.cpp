#include "app/QmlModule.h"

#include "app/AccessibleValue.h"

#include <QQmlEngineExtensionPlugin>

Q_IMPORT_QML_PLUGIN(QuayletPlugin)

namespace quaylet {

void addApplicationModule(QQmlEngine& engine) {
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    AccessibleValue::installAccessibilityFactory();
}

}  // namespace quaylet
