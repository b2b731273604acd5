#include "platform/win/SerialComm.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "platform/win/WideText.h"

namespace platform {
namespace {

std::wstring Cleaned(const std::wstring& data) {
    std::wstring text = data.substr(0, data.find(L'\0'));
    const auto space = [](wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; };
    while (!text.empty() && space(text.back())) text.pop_back();
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
    return text;
}

// COM2 before COM10: runs of digits compare by value, the rest without regard to case.
bool NaturalLess(const std::wstring& a, const std::wstring& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::iswdigit(a[i]) && std::iswdigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::iswdigit(a[ie])) ++ie;
            while (je < b.size() && std::iswdigit(b[je])) ++je;
            const std::wstring x = a.substr(i, ie - i), y = b.substr(j, je - j);
            const auto xs = x.find_first_not_of(L'0'), ys = y.find_first_not_of(L'0');
            const std::wstring xv = xs == std::wstring::npos ? L"" : x.substr(xs);
            const std::wstring yv = ys == std::wstring::npos ? L"" : y.substr(ys);
            if (xv.size() != yv.size()) return xv.size() < yv.size();
            if (xv != yv) return xv < yv;
            i = ie;
            j = je;
            continue;
        }
        const wint_t ca = std::towupper(a[i]), cb = std::towupper(b[j]);
        if (ca != cb) return ca < cb;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<std::string> PortNamesFromSerialComm(const std::vector<SerialCommValue>& values) {
    std::vector<std::wstring> names;
    for (const auto& value : values) {
        if (value.type != REG_SZ) continue;
        std::wstring name = Cleaned(value.data);
        if (name.empty() || std::find(names.begin(), names.end(), name) != names.end()) continue;
        names.push_back(std::move(name));
    }
    std::stable_sort(names.begin(), names.end(), NaturalLess);
    std::vector<std::string> out;
    for (const auto& name : names) out.push_back(Utf8Text(name));
    return out;
}

std::vector<SerialCommValue> ReadSerialCommKey() {
    std::vector<SerialCommValue> values;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return values;
    }
    DWORD count = 0, longestName = 0, longestData = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                           &longestName, &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
        std::wstring name(longestName + 1, L'\0');
        std::vector<BYTE> data(longestData + sizeof(wchar_t));
        for (DWORD i = 0; i < count; ++i) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataSize = static_cast<DWORD>(data.size());
            DWORD type = 0;
            // A value that changed size since the count was taken is skipped, not retried: the
            // list is asked for again on the next device change anyway.
            if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(),
                                &dataSize) != ERROR_SUCCESS) {
                continue;
            }
            SerialCommValue value;
            value.name.assign(name.data(), nameLength);
            value.type = type;
            value.data.assign(reinterpret_cast<const wchar_t*>(data.data()),
                              dataSize / sizeof(wchar_t));
            values.push_back(std::move(value));
        }
    }
    ::RegCloseKey(key);
    return values;
}

}  // namespace platform
