// HostName.h: the DNS host name of the machine (the label before any domain), as gethostname
// gives it on the other back end, in UTF-8.
#include "platform/HostName.h"

#include <windows.h>

#include "platform/win/WideText.h"

namespace platform {

std::string HostName() {
    DWORD size = 0;
    ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);  // size with the terminator
    if (size == 0) return {};
    std::wstring wide(size, L'\0');
    if (!::GetComputerNameExW(ComputerNameDnsHostname, wide.data(), &size)) return {};
    wide.resize(size);
    return Utf8Text(wide);
}

}  // namespace platform
