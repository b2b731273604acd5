#include "app/RememberedChoices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

#include "platform/DebugOutput.h"

namespace {

// Where the environment says at this moment (XDG_CONFIG_HOME, else ~/.config).
QString StorePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/Kelvo/kelvo-console.conf";
}

void Debug(const QString& line) {
    platform::DebugOutput(line.toStdString());
}

}  // namespace

TRememberedChoices LoadChoices() {
    const QString path = StorePath();
    const QSettings store(path, QSettings::IniFormat);
    TRememberedChoices choices;
    const bool unreadable = store.status() != QSettings::NoError ||
                            (store.allKeys().isEmpty() && QFileInfo(path).size() > 0);
    if (unreadable) {
        Debug("Remembered choices ignored: " + path + " cannot be read");
        return choices;
    }
    choices.Port = store.value("connection/port").toString();
    choices.Baud = store.value("connection/baud").toUInt();
    choices.Reconnect = store.value("connection/reconnect", true).toBool();
    choices.Geometry = store.value("window/geometry").toByteArray();
    choices.Register = store.value("records/register").toString();
    choices.Telemetry.Location = store.value("telemetry/broker").toString();
    choices.Telemetry.CaFile = store.value("telemetry/ca").toString();
    choices.Telemetry.PasswordFile = store.value("telemetry/password_file").toString();
    choices.Telemetry.Discovery = store.value("telemetry/discovery", true).toBool();
    choices.BenchPorts = store.value("bench/ports").toStringList();
    choices.BenchGeometry = store.value("bench/geometry").toByteArray();
    return choices;
}

void SaveChoices(const TRememberedChoices& choices) {
    // Written whole into a file of its own beside the old one, then renamed over it: there is no
    // moment without a whole file, a damaged one (which the settings reader declines to write
    // over) is replaced, and two consoles ending at once each write their own file.
    const QString path = StorePath();
    QDir().mkpath(QFileInfo(path).path());
    QTemporaryFile temporary(path + ".XXXXXX");
    temporary.setAutoRemove(false);
    if (!temporary.open()) {
        Debug("Choices not remembered: " + temporary.fileTemplate() + " cannot be created");
        return;
    }
    const QString fresh = temporary.fileName();
    temporary.close();
    {
        QSettings store(fresh, QSettings::IniFormat);
        store.setValue("connection/port", choices.Port);
        store.setValue("connection/baud", choices.Baud);
        store.setValue("connection/reconnect", choices.Reconnect);
        store.setValue("window/geometry", choices.Geometry);
        store.setValue("records/register", choices.Register);
        store.setValue("telemetry/broker", choices.Telemetry.Location);
        store.setValue("telemetry/ca", choices.Telemetry.CaFile);
        store.setValue("telemetry/password_file", choices.Telemetry.PasswordFile);
        store.setValue("telemetry/discovery", choices.Telemetry.Discovery);
        store.setValue("bench/ports", choices.BenchPorts);
        store.setValue("bench/geometry", choices.BenchGeometry);
        store.sync();
        if (store.status() != QSettings::NoError) {
            Debug("Choices not remembered: " + fresh + " cannot be written");
            QFile::remove(fresh);
            return;
        }
    }
    std::error_code error;  // a rename replaces the old file in one step, unlike QFile::rename
    std::filesystem::rename(QFile::encodeName(fresh).toStdString(),
                            QFile::encodeName(path).toStdString(), error);
    if (error) {
        Debug("Choices not remembered: " + path + " cannot be written");
        QFile::remove(fresh);
    }
}
