#include "app/SetpointInputs.h"

#include <QInputDialog>

std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& prompt,
                               const QString& initial) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}
