#include "app/QmlModule.h"

#include <QQmlComponent>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>
#include <QQuickWindow>

#include <stdexcept>
#include <string>

#include "app/AccessibleValue.h"

Q_IMPORT_QML_PLUGIN(QuayletPlugin)

namespace quaylet {

void addApplicationModule(QQmlEngine& engine) {
    // The plain controls style the views were drawn for, whatever the desktop's own theme.
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    AccessibleValue::installAccessibilityFactory();
}

QmlWindows::QmlWindows() {
    addApplicationModule(engine_);
}

QWindow* QmlWindows::make(const char* type, const QVariantMap& properties) {
    QQmlComponent component(&engine_);
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
