#include "app/Indicator.h"

#include <QPainter>

TIndicator::TIndicator(QWidget* parent) : QWidget(parent) {}

void TIndicator::SetBrushColor(const QColor& color) {
    if (color == FBrush) return;
    FBrush = color;
    update();
}

void TIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(FBrush);
    const int side = qMin(width(), height()) - 1;
    painter.drawEllipse(QRectF(0.5, 0.5, side - 0.5, side - 0.5));
}
