#pragma once
// The user's locale settings for the texts a log row carries: the decimal separator, the short
// date and the long time of day. On Windows they are the system's own settings; on Linux they are
// what Qt reads from the environment (LC_ALL, LC_TIME, LC_NUMERIC, LANG), so this header is filled
// from support/qt there, the one part of this layer that is not in platform/. Texts are UTF-8.
// Callable from any thread.

#include <string>

namespace platform {

std::string LocaleDecimalSeparatorText();
// The date in the locale's short date format ("12/8/26", "08.12.26").
std::string LocaleShortDateText(int year, int month, int day);
// The time of day in the locale's long time format without a time-zone part ("2:03:07 PM").
std::string LocaleLongTimeText(int hour, int minute, int second, int millisecond);

}  // namespace platform
