#pragma once
// The look of the read-only boxes that show the readings: a plain sunken panel in the
// button-face colour. They change with every reading, and the desktop style's rounded,
// antialiased frame cost more to draw than all their text. Window's thread only.

#include <QProxyStyle>

class TValueBoxStyle : public QProxyStyle {
  public:
    // The one instance, owned by the application; the boxes keep the application's style
    // for everything but their panel.
    static TValueBoxStyle* Instance();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

  private:
    TValueBoxStyle();
};
