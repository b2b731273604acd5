#include "app/RegisterChoice.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "records/Register.h"

std::optional<QString> AskRegisterLocation(QWidget* parent, const QString& current) {
    QDialog dialog(parent);
    dialog.setWindowTitle("Register of tests and cells");
    auto* layout = new QGridLayout(&dialog);
    layout->addWidget(new QLabel(kRegisterServersBuilt
                                     ? "A file, or a PostgreSQL server "
                                       "(postgresql://user@host/dbname; its password in "
                                       "~/.pgpass):"
                                     : "The register's file (a register on a PostgreSQL server "
                                       "needs the Linux build):",
                                 &dialog),
                      0, 0, 1, 2);
    auto* location = new QLineEdit(current, &dialog);
    location->setObjectName("RegisterLocation");
    location->setPlaceholderText(QString::fromStdString(TRegister::DefaultLocation()));
    location->setMinimumWidth(420);
    layout->addWidget(location, 1, 0);
    auto* browse = new QPushButton("Browse...", &dialog);
    layout->addWidget(browse, 1, 1);
    auto* refusal = new QLabel(&dialog);
    refusal->setObjectName("RegisterRefusal");
    refusal->setStyleSheet("color: #c00000");
    refusal->setWordWrap(true);
    refusal->hide();
    layout->addWidget(refusal, 2, 0, 1, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons, 3, 0, 1, 2);

    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString start = location->text().isEmpty()
                                  ? QString::fromStdString(TRegister::DefaultLocation())
                                  : location->text();
        const QString file = QFileDialog::getSaveFileName(
            &dialog, "Register file", start, "Registers (*.sqlite);;All files (*)", nullptr,
            QFileDialog::DontConfirmOverwrite);
        if (!file.isEmpty()) location->setText(file);
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        const auto why = RegisterLocationRefusal(location->text().trimmed().toStdString());
        if (!why) return dialog.accept();
        refusal->setText(QString::fromStdString(*why));
        refusal->show();
    });
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return location->text().trimmed();
}
