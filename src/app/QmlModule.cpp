#include "app/QmlModule.h"

#include <QQmlComponent>
#include <QQmlEngineExtensionPlugin>

#include <stdexcept>
#include <string>

#include "app/AccessibleValue.h"

Q_IMPORT_QML_PLUGIN(QuayletPlugin)

namespace quaylet {

void addApplicationModule(QQmlEngine& engine) {
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    AccessibleValue::installAccessibilityFactory();
}

QQuickWindow* QmlWindowMaker::make(const char* type, const QVariantMap& properties) {
    if (!engine_) {
        engine_ = std::make_unique<QQmlEngine>();
        addApplicationModule(*engine_);
    }
    QQmlComponent component(engine_.get());
    component.setData(QByteArray("import Quaylet\n") + type + " {}", QUrl());
    // A component that failed to load must not be asked for objects: Qt would crash.
    QObject* made =
        !component.isReady() ? nullptr : component.createWithInitialProperties(properties);
    auto* window = qobject_cast<QQuickWindow*>(made);
    if (!window) {
        delete made;
        throw std::logic_error("The window " + std::string(type) +
                               " could not be made: " + component.errorString().toStdString());
    }
    return window;
}

}  // namespace quaylet
