#pragma once
// The soak's view of what reaches the window: every posted thread message, each reading's log
// row grouped by connection, and a check of each reading's values against what the simulated
// tester actually sent.

#include <QObject>
#include <QStringList>
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device/DeviceReading.h"
#include "sim/PtyTester.h"

// The values the tester sent lately, per read: what a reading may carry. The protocol has no
// echo, so an answer that comes late can be taken for the answer to a later read: such a value,
// sent for another field, is a crossing; any other value not sent is a fault.
class SentValues {
  public:
    void Add(const std::vector<sim::SentAnswer>& answers);

    struct Verdict {
        std::vector<std::string> unsent;  // "Voltage=1.234": values sent for no field lately
        int crossings = 0;                // fields carrying a value sent for another field
    };
    Verdict Check(const TDeviceReading& reading) const;

    uint64_t LateAnswers() const { return lateAnswers_; }

  private:
    // Enough for the window to run this many poll cycles behind the worker.
    static constexpr size_t kKeptPerRead = 1024;
    static constexpr int kReads = 10;  // codes 0x10 to 0x19

    std::array<std::deque<sim::AnswerData>, kReads> recent_;
    uint64_t lateAnswers_ = 0;
};

class SoakTap : public QObject {
  public:
    explicit SoakTap(sim::PtyTester& tester);  // installs itself on the application
    ~SoakTap() override;

    // Rows of the readings received in the connection now open or last closed.
    const QStringList& ConnectionRows() const { return rows_; }
    int Connections() const { return connections_; }
    bool Connected() const { return connected_; }

    uint64_t messages = 0;  // posted thread messages received
    uint64_t readings = 0;
    uint64_t readingsOutsideConnection = 0;
    uint64_t readingsCrossed = 0;  // readings with a value sent for another field
    uint64_t readingsOutOfOrder = 0;
    std::vector<std::string> faults;  // what went wrong, readable; the first few only

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void TakeReading(const TDeviceReading& reading);
    void Fault(const std::string& text);

    sim::PtyTester& tester_;
    SentValues sent_;
    uint64_t lateAnswersAtOpen_ = 0;
    QStringList rows_;
    bool connected_ = false;
    int connections_ = 0;
    double lastTimeStamp_ = 0;
};
