#include "sim/Faults.h"

namespace sim {
namespace {

// Bytes a noise burst never holds: the start bytes that the console synchronises on.
constexpr uint8_t kReadStart = 0xCA;
constexpr uint8_t kAcknowledgeByte = 0x6F;

}  // namespace

FaultInjector::FaultInjector(const FaultOptions& options) {
    SetOptions(options);
}

void FaultInjector::SetOptions(const FaultOptions& options) {
    options_ = options;
    random_.seed(options.seed);
}

void FaultInjector::Script(FaultKind kind, int count) {
    for (int i = 0; i < count; ++i) script_.push_back(kind);
}

AnswerFaults FaultInjector::Next(FaultCounters& counters) {
    AnswerFaults faults;
    if (!script_.empty()) {
        const FaultKind kind = script_.front();
        script_.pop_front();
        switch (kind) {
            case FaultKind::Noise:
                faults.noise = NoiseBytes();
                break;
            case FaultKind::Drop:
                faults.send = false;
                break;
            case FaultKind::CorruptTrailer:
                faults.corruptTrailer = true;
                break;
            case FaultKind::Late:
                faults.late = true;
                break;
            case FaultKind::Silence:
                faults.send = false;
                break;
        }
        counters.noise += kind == FaultKind::Noise;
        counters.drop += kind == FaultKind::Drop;
        counters.corruptTrailer += kind == FaultKind::CorruptTrailer;
        counters.late += kind == FaultKind::Late;
        counters.silence += kind == FaultKind::Silence;
        return faults;
    }
    if (options_.silent) {
        faults.send = false;
        ++counters.silence;
        return faults;
    }
    if (Chance(options_.drop)) {
        faults.send = false;
        ++counters.drop;
        return faults;
    }
    if (Chance(options_.noise)) {
        faults.noise = NoiseBytes();
        ++counters.noise;
    }
    if (Chance(options_.corruptTrailer)) {
        faults.corruptTrailer = true;
        ++counters.corruptTrailer;
    }
    if (Chance(options_.late)) {
        faults.late = true;
        ++counters.late;
    }
    return faults;
}

bool FaultInjector::Chance(double probability) {
    if (!(probability > 0)) return false;
    const double draw = static_cast<double>(random_() >> 11) * 0x1.0p-53;  // uniform in [0, 1)
    return draw < probability;
}

std::vector<uint8_t> FaultInjector::NoiseBytes() {
    std::vector<uint8_t> bytes(1 + random_() % 3);
    for (auto& byte : bytes) {
        do {
            byte = static_cast<uint8_t>(random_());
        } while (byte == kReadStart || byte == kAcknowledgeByte);
    }
    return bytes;
}

std::vector<uint8_t> WireBytes(const AnswerFaults& faults, const std::vector<uint8_t>& answer) {
    if (!faults.send || answer.empty()) return {};
    std::vector<uint8_t> bytes = faults.noise;
    bytes.insert(bytes.end(), answer.begin(), answer.end());
    if (faults.corruptTrailer) bytes.back() ^= 0xFF;
    return bytes;
}

}  // namespace sim
