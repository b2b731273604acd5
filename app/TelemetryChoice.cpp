#include "app/TelemetryChoice.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

TTelemetryOptions TTelemetryChoice::Options() const {
    return {Location.trimmed().toStdString(), CaFile.trimmed().toStdString(),
            PasswordFile.trimmed().toStdString(), !Discovery};
}

std::optional<TTelemetryChoice> AskTelemetryChoice(QWidget* parent,
                                                   const TTelemetryChoice& current) {
    QDialog dialog(parent);
    dialog.setWindowTitle("Telemetry");
    auto* form = new QFormLayout(&dialog);
    form->addRow(
        new QLabel("Publish the tester's status, readings and verdicts to an MQTT "
                   "broker for the lab's dashboards. Empty: no telemetry.",
                   &dialog));
    auto* location = new QLineEdit(current.Location, &dialog);
    location->setObjectName("TelemetryLocation");
    location->setPlaceholderText("mqtt://user@broker.lab:1883");
    location->setMinimumWidth(380);
    form->addRow("Broker:", location);
    auto* ca = new QLineEdit(current.CaFile, &dialog);
    ca->setObjectName("TelemetryCa");
    ca->setPlaceholderText("the system's certificate authorities");
    form->addRow("Certificate authority (mqtts):", ca);
    auto* password = new QLineEdit(current.PasswordFile, &dialog);
    password->setObjectName("TelemetryPasswordFile");
    password->setPlaceholderText(QString("%1, if set").arg(kMqttPasswordVariable));
    form->addRow("Password file:", password);
    auto* discovery = new QCheckBox("Publish discovery configurations for dashboards", &dialog);
    discovery->setObjectName("TelemetryDiscovery");
    discovery->setChecked(current.Discovery);
    form->addRow(discovery);
    auto* refusal = new QLabel(&dialog);
    refusal->setObjectName("TelemetryRefusal");
    refusal->setStyleSheet("color: #c00000");
    refusal->setWordWrap(true);
    refusal->hide();
    form->addRow(refusal);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);

    const auto chosen = [&] {
        return TTelemetryChoice{location->text().trimmed(), ca->text().trimmed(),
                                password->text().trimmed(), discovery->isChecked()};
    };
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (location->text().trimmed().isEmpty()) return dialog.accept();  // no telemetry
        const TTelemetrySettingsRead read = ReadTelemetrySettings(chosen().Options());
        if (read.Error.empty()) return dialog.accept();
        refusal->setText(QString::fromStdString(read.Error));
        refusal->show();
    });
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return chosen();
}
