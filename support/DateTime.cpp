#include "support/DateTime.h"

#include <cmath>

namespace {

// Day 0, 30 December 1899. A function, not a global: callers may run before globals are set up.
QDate Epoch() { return QDate(1899, 12, 30); }

constexpr double kMsPerDay = 86400000.0;

}  // namespace

double CurrentDateTime() {
    return ToDateTime(QDateTime::currentDateTime());
}

double ToDateTime(const QDateTime& local) {
    const double days = static_cast<double>(Epoch().daysTo(local.date()));
    const double ms = local.time().msecsSinceStartOfDay();
    // Before the epoch the fraction still counts forward from midnight (the whole part carries
    // the sign), as such day counts do.
    return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

QDateTime FromDateTime(double value) {
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    const auto ms = static_cast<int>(std::llround(fraction * kMsPerDay));
    QDate date = Epoch().addDays(static_cast<qint64>(whole));
    if (ms >= 86400000) return QDateTime(date.addDays(1), QTime(0, 0));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(ms));
}
