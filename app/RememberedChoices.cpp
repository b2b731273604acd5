#include "app/RememberedChoices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

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
    return choices;
}

void SaveChoices(const TRememberedChoices& choices) {
    // Written whole beside the file, then put in its place: a file cut short by a crash is never
    // left behind, and a damaged one, which the settings reader declines to write over, is
    // replaced.
    const QString path = StorePath();
    const QString fresh = path + ".new";
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(fresh);
    {
        QSettings store(fresh, QSettings::IniFormat);
        store.setValue("connection/port", choices.Port);
        store.setValue("connection/baud", choices.Baud);
        store.setValue("connection/reconnect", choices.Reconnect);
        store.setValue("window/geometry", choices.Geometry);
        store.sync();
        if (store.status() != QSettings::NoError) {
            Debug("Choices not remembered: " + fresh + " cannot be written");
            return;
        }
    }
    QFile::remove(path);
    if (!QFile::rename(fresh, path))
        Debug("Choices not remembered: " + path + " cannot be written");
}
