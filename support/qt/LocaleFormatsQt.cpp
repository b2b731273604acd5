// platform/LocaleFormats.h on Linux: the locale that QLocale::system() reads from the environment.
#include <QDateTime>
#include <QLocale>
#include <QString>

#include "platform/LocaleFormats.h"

namespace {

// The locale's long time format without its time-zone part ("t" sequences), which a log row
// does not carry; blanks and brackets left around it go too. Quoted literal text is kept.
QString LongTimeFormatOf(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') quoted = !quoted;
        if (quoted || c != u't') {
            result += c;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't') ++i;
        if (result.endsWith(u'(') && i + 1 < format.size() && format[i + 1] == u')') {
            result.chop(1);
            ++i;
        }
        while (!result.isEmpty() && result.back().isSpace()) result.chop(1);
        if (result.isEmpty()) {
            while (i + 1 < format.size() && format[i + 1].isSpace()) ++i;
        }
    }
    return result;
}

// LongTimeFormatOf, worked out once per locale and thread: every row needs it.
const QString& LongTimeFormat(const QLocale& locale) {
    thread_local QLocale of = QLocale::c();
    thread_local QString format = LongTimeFormatOf(of);
    if (locale != of) {
        of = locale;
        format = LongTimeFormatOf(locale);
    }
    return format;
}

}  // namespace

namespace platform {

std::string LocaleDecimalSeparatorText() {
    // Asked for every number shown or logged: the text is made again only when it changed.
    thread_local QString of;
    thread_local std::string text;
    if (const QString point = QLocale::system().decimalPoint(); point != of || text.empty()) {
        of = point;
        text = point.toStdString();
    }
    return text;
}

std::string LocaleShortDateText(int year, int month, int day) {
    return QLocale::system().toString(QDate(year, month, day), QLocale::ShortFormat).toStdString();
}

std::string LocaleLongTimeText(int hour, int minute, int second, int millisecond) {
    const QLocale locale = QLocale::system();
    return locale.toString(QTime(hour, minute, second, millisecond), LongTimeFormat(locale))
        .toStdString();
}

}  // namespace platform
