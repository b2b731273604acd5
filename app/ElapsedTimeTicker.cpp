#include "app/ElapsedTimeTicker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "support/DateTime.h"
#include "support/TimeText.h"

namespace {

// Readable steps in seconds, up to one day; longer spans step by whole days times 1, 2 or 5
// times a power of ten.
constexpr std::array<double, 18> kStepsInSeconds = {
    1,   2,   5,    10,   15,   30,    60,    120,   300,
    600, 900, 1800, 3600, 7200, 10800, 21600, 43200, kSecondsPerDay};

// The readable step, in days, nearest (by ratio) to splitting `rangeDays` into `count` parts.
double ReadableStep(double rangeDays, int count) {
    const double wanted = rangeDays * kSecondsPerDay / std::max(count, 1);
    if (!std::isfinite(wanted) || wanted <= kStepsInSeconds.front()) {
        return kStepsInSeconds.front() / kSecondsPerDay;
    }
    const auto distance = [wanted](double step) { return std::fabs(std::log(step / wanted)); };
    double best = kStepsInSeconds.front();
    for (const double step : kStepsInSeconds) {
        if (distance(step) < distance(best)) best = step;
    }
    for (double days = 1; days * kSecondsPerDay < 10 * wanted; days *= 10) {
        for (const double factor : {1.0, 2.0, 5.0}) {
            const double step = days * factor * kSecondsPerDay;
            if (distance(step) < distance(best)) best = step;
        }
    }
    return best / kSecondsPerDay;
}

}  // namespace

TElapsedTimeTicker::TElapsedTimeTicker() {
    setTickOrigin(0);
}

QString TElapsedTimeTicker::ElapsedTimeText(double days) {
    const double rounded = std::round(days * kSecondsPerDay);
    if (!std::isfinite(rounded)) return QString();
    const int64_t total = static_cast<int64_t>(std::min(std::fabs(rounded), 9.0e15));
    const int64_t hours = total / 3600;
    const int minutes = static_cast<int>(total / 60 % 60);
    const int seconds = static_cast<int>(total % 60);
    const QString hourText = hours < 10 ? QString::fromStdString(TwoDigits(static_cast<int>(hours)))
                                        : QString::number(hours);
    return QStringLiteral("%1%2:%3:%4")
        .arg(rounded < 0 ? QStringLiteral("-") : QString(), hourText,
             QString::fromStdString(TwoDigits(minutes)),
             QString::fromStdString(TwoDigits(seconds)));
}

double TElapsedTimeTicker::getTickStep(const QCPRange& range) {
    return ReadableStep(range.size(), tickCount());
}

int TElapsedTimeTicker::getSubTickCount(double) {
    return 2;
}

QString TElapsedTimeTicker::getTickLabel(double tick, const QLocale&, QChar, int) {
    return ElapsedTimeText(tick);
}
