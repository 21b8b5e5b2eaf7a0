#include "app/SymbolImage.h"

#include <QImage>
#include <QPainter>

#include "app/SystemSymbols.h"

namespace quaylet {

SymbolImage::SymbolImage(QQuickItem* parent) : QQuickPaintedItem(parent) {}

void SymbolImage::setSymbol(const QString& symbol) {
    if (symbol != symbol_) {
        symbol_ = symbol;
        update();
        emit symbolChanged();
    }
}

void SymbolImage::setColor(const QColor& color) {
    if (color != color_) {
        color_ = color;
        update();
        emit colorChanged();
    }
}

void SymbolImage::paint(QPainter* painter) {
    const QSize size = boundingRect().size().toSize();
    if (symbol_.isEmpty() || size.isEmpty()) {
        return;
    }
    QImage picture = SystemSymbols::icon(symbol_)
                         .pixmap(size, painter->device()->devicePixelRatioF())
                         .toImage()
                         .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        return;
    }
    // Symbolic icons are shapes in one colour; the view chooses the colour, as for text.
    QPainter tint(&picture);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(QRectF(QPointF(), picture.deviceIndependentSize()), color_);
    tint.end();
    // A picture that is not square keeps its proportions, centred.
    QRectF target(QPointF(), picture.deviceIndependentSize());
    target.moveCenter(boundingRect().center());
    painter->drawImage(target, picture);
}

}  // namespace quaylet
