#include "app/EllipsisEdit.h"

#include <QKeyEvent>

TEllipsisEdit::TEllipsisEdit(QWidget* parent)
    : QWidget(parent), FEdit(new QLineEdit(this)), FButton(new QToolButton(this)) {
    FEdit->setReadOnly(true);
    FEdit->installEventFilter(this);
    FButton->setText("...");
    FButton->setFocusPolicy(Qt::NoFocus);
    setFocusProxy(FEdit);
    connect(FButton, &QToolButton::clicked, this, &TEllipsisEdit::ButtonClick);
}

bool TEllipsisEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FEdit && event->type() == QEvent::KeyPress && isEnabled()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint()) {
            emit ButtonClick();
            return false;  // passed on; the box is read-only, so it edits nothing
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TEllipsisEdit::resizeEvent(QResizeEvent*) {
    const int buttonWidth = height();
    FEdit->setGeometry(0, 0, width() - buttonWidth, height());
    FButton->setGeometry(width() - buttonWidth, 0, buttonWidth, height());
}
