// SysError.h on Windows: codes are Windows error numbers, texts come from FormatMessageW.
#include "platform/SysError.h"

#include <windows.h>

#include "platform/win/WideText.h"

namespace platform {

std::string SysErrorMessage(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    std::wstring wide(text, length);
    ::LocalFree(text);
    // The system's texts end in a full stop and a line break; ours are put into sentences.
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                             wide.back() == L'.')) {
        wide.pop_back();
    }
    return Utf8Text(wide);
}

uint32_t LastSysError() {
    return ::GetLastError();
}

}  // namespace platform
