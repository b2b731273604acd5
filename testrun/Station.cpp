#include "testrun/Station.h"

#include "platform/HostName.h"

std::string StationName(const std::string& given) {
    if (!given.empty()) return given;
    const std::string host = platform::HostName();
    const std::string name = host.substr(0, host.find('.'));
    return name.empty() ? "localhost" : name;
}
