#include "app/AccessibleValue.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QPointer>
#include <QQmlContext>
#include <QQmlProperty>
#include <QQuickWindow>

namespace quaylet {
namespace {

class AccessibleValueInterface : public QAccessibleObject, public QAccessibleValueInterface {
  public:
    explicit AccessibleValueInterface(AccessibleValue* item)
        : QAccessibleObject(item), item_(item) {}

    bool isValid() const override { return item_ != nullptr; }
    QWindow* window() const override { return item_ ? item_->window() : nullptr; }

    QRect rect() const override {
        if (!item_ || !item_->window())
            return {};
        const QRectF scene = item_->mapRectToScene(item_->boundingRect());
        return QRect(item_->window()->mapToGlobal(scene.topLeft().toPoint()),
                     scene.size().toSize());
    }

    // The nearest ancestor that is an element of its own, else the window.
    QAccessibleInterface* parent() const override {
        if (!item_)
            return nullptr;
        QQuickWindow* window = item_->window();
        const QQuickItem* root = window ? window->contentItem() : nullptr;
        for (QQuickItem* ancestor = item_->parentItem(); ancestor && ancestor != root;
             ancestor = ancestor->parentItem()) {
            if (QAccessibleInterface* element = QAccessible::queryAccessibleInterface(ancestor))
                return element;
        }
        return window ? QAccessible::queryAccessibleInterface(window) : nullptr;
    }

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override {
        if (!item_)
            return {};
        switch (kind) {
            case QAccessible::Name:
                return attached("name").toString();
            case QAccessible::Description:
                return attached("description").toString();
            case QAccessible::Value:
                return item_->text();
            default:
                return {};
        }
    }

    QAccessible::Role role() const override {
        return item_ ? static_cast<QAccessible::Role>(attached("role").toInt())
                     : QAccessible::NoRole;
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        state.invisible = !item_ || !item_->isVisible();
        state.readOnly = true;
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface && item_ && item_->fraction().isValid())
            return static_cast<QAccessibleValueInterface*>(this);
        return nullptr;
    }

    QVariant currentValue() const override { return item_ ? item_->fraction() : QVariant(); }
    // The value follows the work under way; nobody sets it from outside.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 1.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.0; }

  private:
    // The attached Accessible properties that the element's QML file set.
    QVariant attached(const char* name) const {
        return QQmlProperty(item_, QStringLiteral("Accessible.") + QLatin1String(name),
                            qmlContext(item_))
            .read();
    }

    QPointer<AccessibleValue> item_;
};

QAccessibleInterface* accessibleValueFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(AccessibleValue::staticMetaObject.className()))
        return nullptr;
    return new AccessibleValueInterface(static_cast<AccessibleValue*>(object));
}

}  // namespace

AccessibleValue::AccessibleValue(QQuickItem* parent) : QQuickItem(parent) {}

void AccessibleValue::installAccessibilityFactory() {
    QAccessible::installFactory(accessibleValueFactory);
}

void AccessibleValue::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    emit textChanged();
    announceValue();
}

void AccessibleValue::setFraction(const QVariant& fraction) {
    if (fraction == fraction_)
        return;
    fraction_ = fraction;
    emit fractionChanged();
    announceValue();
}

void AccessibleValue::announceValue() {
    if (!QAccessible::isActive())
        return;
    QAccessibleValueChangeEvent event(this, fraction_.isValid() ? fraction_ : QVariant(text_));
    QAccessible::updateAccessibility(&event);
}

}  // namespace quaylet
