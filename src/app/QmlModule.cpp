#include "app/QmlModule.h"

#include <QQmlEngineExtensionPlugin>

Q_IMPORT_QML_PLUGIN(QuayletPlugin)

namespace quaylet {

void addApplicationModule(QQmlEngine& engine) {
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
}

}  // namespace quaylet
