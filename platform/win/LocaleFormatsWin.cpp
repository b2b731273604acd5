// LocaleFormats.h on Windows: the user's own settings (Region in the control panel).
#include "platform/LocaleFormats.h"

#include <windows.h>

#include "platform/win/WideText.h"

namespace platform {
namespace {

SYSTEMTIME TimeOf(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    time.wMilliseconds = static_cast<WORD>(millisecond);
    return time;
}

// What a call that writes into a buffer of the size it asks for returns; "" when it fails.
template <typename Call>
std::string Filled(Call call) {
    const int size = call(nullptr, 0);
    if (size <= 0) return {};
    std::wstring text(static_cast<size_t>(size), L'\0');
    if (call(text.data(), size) <= 0) return {};
    text.resize(static_cast<size_t>(size - 1));  // the count took in the closing null
    return Utf8Text(text);
}

}  // namespace

std::string LocaleDecimalSeparatorText() {
    return Filled([](LPWSTR text, int size) {
        return ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, text, size);
    });
}

std::string LocaleShortDateText(int year, int month, int day) {
    const SYSTEMTIME date = TimeOf(year, month, day, 0, 0, 0, 0);
    return Filled([&](LPWSTR text, int size) {
        return ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &date, nullptr, text,
                                 size, nullptr);
    });
}

std::string LocaleLongTimeText(int hour, int minute, int second, int millisecond) {
    // Windows' time formats carry no time zone; the long one is the default.
    const SYSTEMTIME time = TimeOf(2000, 1, 1, hour, minute, second, millisecond);
    return Filled([&](LPWSTR text, int size) {
        return ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &time, nullptr, text, size);
    });
}

}  // namespace platform
