#pragma once

#include <QtQml/qqmlregistration.h>
#include <QQuickItem>
#include <QString>
#include <QVariant>

namespace quaylet {

// An item that assistive technologies read as one element with a value: its role, name and
// description come from its Accessible attached properties, its value from `text` and, for a
// progress, from `fraction`. Qt Quick's own elements give values only to editable text and to
// controls a person drags or turns, so progress and step states need this element to be read
// as values rather than as descriptions. The element has no accessible children.
class AccessibleValue : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    // The value read aloud, such as "Current".
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    // How far along, from 0 to 1; undefined when the element is not a progress.
    Q_PROPERTY(QVariant fraction READ fraction WRITE setFraction NOTIFY fractionChanged)

  public:
    explicit AccessibleValue(QQuickItem* parent = nullptr);

    // Lets queryAccessibleInterface find the element's interface; installing twice is harmless.
    static void installAccessibilityFactory();

    QString text() const { return text_; }
    void setText(const QString& text);
    QVariant fraction() const { return fraction_; }
    void setFraction(const QVariant& fraction);

  signals:
    void textChanged();
    void fractionChanged();

  private:
    void announceValue();

    QString text_;
    QVariant fraction_;
};

}  // namespace quaylet
