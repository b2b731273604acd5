#include "tests/app/SoakTap.h"

#include <QCoreApplication>
#include <algorithm>

#include "device/DeviceCodec.h"
#include "device/LinkEvent.h"
#include "support/Format.h"
#include "testrun/TestLog.h"
#include "threads/qt/QtMessageSink.h"

namespace {

constexpr uint8_t kFirstRead = codeReadStatus;
constexpr size_t kFaultsKept = 20;

// One field of a reading: the read that fills it, its value as the reading holds it, and the
// value that answer data gives it on the console's side.
struct Field {
    uint8_t code;
    const char* name;
    double (*value)(const TDeviceReading&);
    double (*decode)(const sim::AnswerData&);
};

double Scaled(const sim::AnswerData& d, double divisor) {
    return static_cast<float>(DecodeCount(d) / divisor);
}
double SignedByte(const sim::AnswerData& d) {
    return static_cast<int8_t>(DecodeByte(d));
}

const Field kFields[] = {
    {codeReadStatus, "Status", [](const TDeviceReading& r) -> double { return r.Status; },
     SignedByte},
    {codeReadVoltage, "Voltage", [](const TDeviceReading& r) -> double { return r.Voltage; },
     [](const sim::AnswerData& d) { return Scaled(d, 1000); }},
    {codeReadCurrent, "Current", [](const TDeviceReading& r) -> double { return r.Current; },
     [](const sim::AnswerData& d) { return Scaled(d, 1000); }},
    {codeReadTestTime, "TestTime", [](const TDeviceReading& r) -> double { return r.TestTime; },
     [](const sim::AnswerData& d) -> double { return DecodeClock(d); }},
    {codeReadAmpHours, "AmpHours", [](const TDeviceReading& r) -> double { return r.AmpHours; },
     [](const sim::AnswerData& d) { return Scaled(d, 1000); }},
    {codeReadWattHours, "WattHours", [](const TDeviceReading& r) -> double { return r.WattHours; },
     [](const sim::AnswerData& d) { return Scaled(d, 1000); }},
    {codeReadTemperature, "Temperature",
     [](const TDeviceReading& r) -> double { return r.Temperature; }, SignedByte},
    {codeReadCurrentSetpoint, "CurrentSetpoint",
     [](const TDeviceReading& r) -> double { return r.CurrentSetpoint; },
     [](const sim::AnswerData& d) { return Scaled(d, 100); }},
    {codeReadCutoffVoltage, "CutoffVoltage",
     [](const TDeviceReading& r) -> double { return r.CutoffVoltage; },
     [](const sim::AnswerData& d) { return Scaled(d, 100); }},
    {codeReadTestTimeSetpoint, "TestTimeSetpoint",
     [](const TDeviceReading& r) -> double { return r.TestTimeSetpoint; },
     [](const sim::AnswerData& d) -> double { return DecodeClock(d); }},
};

}  // namespace

void SentValues::Add(const std::vector<sim::SentAnswer>& answers) {
    for (const sim::SentAnswer& answer : answers) {
        const int read = answer.code - kFirstRead;
        if (read < 0 || read >= kReads) continue;
        auto& kept = recent_[static_cast<size_t>(read)];
        kept.push_back(answer.data);
        if (kept.size() > kKeptPerRead) kept.pop_front();
        if (answer.late) ++lateAnswers_;
    }
}

SentValues::Verdict SentValues::Check(const TDeviceReading& reading) const {
    Verdict verdict;
    auto sentAs = [](const Field& field, const std::deque<sim::AnswerData>& answers, double value) {
        return std::any_of(answers.begin(), answers.end(),
                           [&](const sim::AnswerData& d) { return field.decode(d) == value; });
    };
    for (const Field& field : kFields) {
        const double value = field.value(reading);
        if (value == -1) continue;  // not read
        if (sentAs(field, recent_[field.code - kFirstRead], value)) continue;
        const bool sentForAnother = std::any_of(
            recent_.begin(), recent_.end(),
            [&](const std::deque<sim::AnswerData>& other) { return sentAs(field, other, value); });
        if (sentForAnother) {
            ++verdict.crossings;
        } else {
            verdict.unsent.push_back(Format("%s=%g", field.name, value));
        }
    }
    const bool bothRead = reading.Voltage != -1.0f && reading.Current != -1.0f;
    const float power = bothRead ? reading.Voltage * reading.Current : -1.0f;
    if (reading.Power != power) {
        verdict.unsent.push_back(Format("Power=%g", static_cast<double>(reading.Power)));
    }
    return verdict;
}

SoakTap::SoakTap(sim::PtyTester& tester) : tester_(tester) {
    qApp->installEventFilter(this);  // filters run newest first: this one sees before the window
}

SoakTap::~SoakTap() {
    qApp->removeEventFilter(this);
}

bool SoakTap::eventFilter(QObject*, QEvent* event) {
    const TThreadMessage* message = AsThreadMessage(event);
    if (message == nullptr) return false;
    ++messages;
    const std::optional<TLinkEvent> linkEvent = LinkEventOf(*message);
    if (!linkEvent) {
        Fault(Format("a message (%d) that is no event of the link", message->Msg()));
        return false;
    }
    if (std::holds_alternative<TPortOpened>(*linkEvent)) {
        connected_ = true;
        ++connections_;
        rows_.clear();
        sent_.Add(tester_.TakeAnswers());
        lateAnswersAtOpen_ = sent_.LateAnswers();
    } else if (std::holds_alternative<TPortClosed>(*linkEvent)) {
        connected_ = false;
    } else if (const auto* taken = std::get_if<TReadingTaken>(&*linkEvent)) {
        TakeReading(taken->Reading);
    }
    return false;
}

void SoakTap::TakeReading(const TDeviceReading& reading) {
    ++readings;
    if (!connected_) {
        ++readingsOutsideConnection;
        Fault("a reading arrived after the port-closed notice");
    } else {
        rows_ << QString::fromStdString(LogRow(reading));
    }
    if (reading.TimeStamp < lastTimeStamp_) {
        ++readingsOutOfOrder;
        Fault("a reading older than the one before it");
    }
    lastTimeStamp_ = reading.TimeStamp;

    // Every answer in this reading was logged by the tester before the reading was posted.
    sent_.Add(tester_.TakeAnswers());
    const SentValues::Verdict verdict = sent_.Check(reading);
    for (const std::string& value : verdict.unsent) Fault("a value never sent: " + value);
    if (verdict.crossings == 0) return;
    ++readingsCrossed;
    if (sent_.LateAnswers() == lateAnswersAtOpen_) {
        Fault("a value sent for another field, with no late answer in this connection");
    }
    if (readingsCrossed > sent_.LateAnswers()) {
        Fault("more readings with crossed values than late answers");
    }
}

void SoakTap::Fault(const std::string& text) {
    if (faults.size() < kFaultsKept) faults.push_back(text);
}
