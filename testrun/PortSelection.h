#pragma once
// The port and baud rate selected in the window, published for the worker. The window's thread
// publishes whenever either list changes; the worker reads the selection at the moment it
// carries out a connect command. Widgets themselves are never read from the worker's thread.

#include <cstdint>
#include <mutex>
#include <string>

struct TPortChoice {
    std::string Name;   // bare port name, empty when the list has no selection
    uint32_t Baud = 0;  // bits per second
};

class TPortSelection {
  public:
    void Publish(TPortChoice choice) {
        std::lock_guard guard(FLock);
        FChoice = std::move(choice);
    }
    TPortChoice Current() const {
        std::lock_guard guard(FLock);
        return FChoice;
    }

  private:
    mutable std::mutex FLock;  // guards FChoice
    TPortChoice FChoice;
};
