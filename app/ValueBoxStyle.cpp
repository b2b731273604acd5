#include "app/ValueBoxStyle.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QPainter>
#include <QStyleOption>

TValueBoxStyle::TValueBoxStyle() : QProxyStyle(QApplication::style()->name()) {}

TValueBoxStyle* TValueBoxStyle::Instance() {
    static TValueBoxStyle* style = [] {
        auto* made = new TValueBoxStyle;
        made->setParent(qApp);  // goes with the application
        return made;
    }();
    return style;
}

void TValueBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    if (element == PE_PanelLineEdit) {
        const QBrush base = option->palette.brush(QPalette::Base);
        qDrawShadePanel(painter, option->rect, option->palette, true, 2, &base);
        return;
    }
    if (element == PE_FrameLineEdit) {
        qDrawShadePanel(painter, option->rect, option->palette, true, 2);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}
