#pragma once
// The operator's inputs for the three setpoints and the two axis maxima: the modal input box.
// What may be sent is decided by the setpoint rules (testrun/SetpointRules.h); what a Start
// meets at the tester, by TSetpointsAhead.

#include <QString>
#include <QWidget>
#include <optional>

#include "device/DeviceReading.h"

// Opens the modal input box; the edited text on OK, nothing on Cancel.
std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& prompt,
                               const QString& initial);

// The setpoints that a Start queued now meets at the tester: what the last reading reported,
// unless the window queued a value since that no reading has reported yet (commands reach the
// tester in the order queued). Window's thread only.
class TSetpointsAhead {
  public:
    // The window queued a command: a setpoint of `kind` (TCommandKind) with `value`.
    void Queued(int kind, double value);
    // Its notice (TCommandDone): the readings that follow report it.
    void Done(int kind);
    void Reading(const TDeviceReading& reading);
    // A connection opened or ended: what was queued may never have been carried out.
    void Clear();

    // The value of `kind`; nothing while neither a reading nor the window has given one.
    std::optional<double> Value(int kind) const;

  private:
    struct TSetpoint {
        std::optional<double> Reported;  // by the last reading that read it
        std::optional<double> Queued;    // the window's latest, until a reading reports it
        int Owed = 0;                    // queued commands whose notice has not come
    };
    // The index of `kind` in FSetpoints; -1 for a kind that is no setpoint.
    static int IndexOf(int kind);

    TSetpoint FSetpoints[3];  // current, cutoff, test time
};
