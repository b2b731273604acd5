#include "support/qt/QtDateTime.h"

#include "support/CivilTime.h"

double ToDateTime(const QDateTime& local) {
    const QDate date = local.date();
    const QTime time = local.time();
    return DateTimeOf({date.year(), date.month(), date.day(), time.hour(), time.minute(),
                       time.second(), time.msec()});
}

QDateTime FromDateTime(double value) {
    const auto [date, time] = DateAndTime(value);
    return QDateTime(date, time);
}

std::pair<QDate, QTime> DateAndTime(double value) {
    const TCivilTime c = CivilTimeOf(value);
    return {QDate(c.Year, c.Month, c.Day), QTime(c.Hour, c.Minute, c.Second, c.Millisecond)};
}
