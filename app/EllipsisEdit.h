#pragma once
// A box whose text the program sets, with an ellipsis button beside it. Direct typing is off:
// the button, or any character key typed in the box, asks for the value instead (the owner
// opens an input box).

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

class TEllipsisEdit : public QWidget {
    Q_OBJECT
  public:
    explicit TEllipsisEdit(QWidget* parent = nullptr);

    QString Text() const { return FEdit->text(); }
    void SetText(const QString& text) { FEdit->setText(text); }
    QLineEdit* Edit() const { return FEdit; }
    QToolButton* Button() const { return FButton; }

  signals:
    // The button was clicked, or a character key was typed in the enabled box.
    void ButtonClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QLineEdit* FEdit;
    QToolButton* FButton;
};
