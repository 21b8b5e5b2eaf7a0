#pragma once

#include <QtQml/qqmlregistration.h>
#include <QColor>
#include <QQuickPaintedItem>
#include <QString>

namespace quaylet {

// A system symbol (SystemSymbols) drawn in one colour, as large as the item. Drawn here
// rather than by Qt Quick's image elements, whose first picture loads every image format
// plugin Qt has: the symbols are the window's only pictures, and they are all icons.
class SymbolImage : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString symbol READ symbol WRITE setSymbol NOTIFY symbolChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

  public:
    explicit SymbolImage(QQuickItem* parent = nullptr);

    QString symbol() const { return symbol_; }
    void setSymbol(const QString& symbol);
    QColor color() const { return color_; }
    void setColor(const QColor& color);

    void paint(QPainter* painter) override;

  signals:
    void symbolChanged();
    void colorChanged();

  private:
    QString symbol_;
    QColor color_ = Qt::black;
};

}  // namespace quaylet
