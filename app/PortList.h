#pragma once
// The window's side of the port list: the drop-down cbPort, filled once at start-up and kept
// current as ports arrive and go. Items are bare port names, in the order they were added.
// Everything here runs on the window's thread.

#include <QString>
#include <cstdint>
#include <functional>

class QComboBox;

// A TPortFoundProc for ListSerialPorts: appends a copy of `name` to the QComboBox* passed as
// `context`, leaving the selection as it was (also on an empty list, where a QComboBox would
// select the new item by itself). A null context is ignored.
void AddPortName(const char* name, void* context);

class TPortList {
  public:
    // `box` must outlive this object. `closePort` closes the serial link (ClosePort); it is
    // called on the window's thread when the port in use goes. `portInUse` names the port the
    // link has open, or is empty when none is: then the selected port counts as the one in use,
    // and its removal closes the link too, whether or not it is open.
    TPortList(QComboBox* box, std::function<void()> closePort,
              std::function<QString()> portInUse = nullptr);

    // Start-up: lists the ports through ListSerialPorts, then selects item 0 if there is one.
    void Fill();

    // One device-change event. Arrival of a port: appended (a name announced twice is listed
    // twice), selected when it is now the only item. Removal of a port: the link is closed when
    // the port in use is `name` exactly; the first item equal to it ignoring case is
    // deleted; then item 0 is selected, or nothing when the list is empty. Other codes and
    // device types change nothing. The result is that of the message: always 1.
    int WMDeviceChange(uint32_t eventCode, uint32_t deviceType, const QString& name);

  private:
    void Arrive(const QString& name);
    void Remove(const QString& name);

    QComboBox* box_;  // not owned
    std::function<void()> closePort_;
    std::function<QString()> portInUse_;
};
