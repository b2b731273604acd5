#pragma once
// A round indicator filled with one brush colour (port open, test running).

#include <QColor>
#include <QWidget>

class TIndicator : public QWidget {
    Q_OBJECT
  public:
    explicit TIndicator(QWidget* parent = nullptr);

    QColor BrushColor() const { return FBrush; }
    void SetBrushColor(const QColor& color);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor FBrush = Qt::white;  // the shape's default fill
};
