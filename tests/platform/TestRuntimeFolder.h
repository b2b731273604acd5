#pragma once
// The virtual port folder of a test program. CTest runs each such program with XDG_RUNTIME_DIR
// set to a folder of its own named kelvo-test-runtime-<program>; FreshVirtualPortFolder()
// refuses to run anywhere else, so a test started by hand never touches the user's own ports.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/PortNames.h"

namespace test_ports {

// Makes sure the runtime folder exists and the virtual port folder does not; returns the path of
// the latter.
inline std::string FreshVirtualPortFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr ||
        std::filesystem::path(runtime).filename().string().rfind("kelvo-test-runtime-", 0) != 0) {
        throw std::runtime_error(
            "XDG_RUNTIME_DIR must name a kelvo-test-runtime-* folder: run "
            "this test through ctest");
    }
    std::filesystem::create_directories(runtime);
    const std::string folder = platform::VirtualPortFolder();
    std::filesystem::remove_all(folder);
    return folder;
}

}  // namespace test_ports
