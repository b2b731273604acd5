// HostName.h: the DNS host name of the machine (the label before any domain), as gethostname
// gives it on the other back end, in UTF-8.
#include "platform/HostName.h"

#include <windows.h>

namespace platform {

std::string HostName() {
    DWORD size = 0;
    ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);  // size with the terminator
    if (size == 0) return {};
    std::wstring wide(size, L'\0');
    if (!::GetComputerNameExW(ComputerNameDnsHostname, wide.data(), &size)) return {};
    wide.resize(size);
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string name(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), name.data(),
                          length, nullptr, nullptr);
    return name;
}

}  // namespace platform
