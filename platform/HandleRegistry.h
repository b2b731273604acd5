#pragma once
// Internal to platform/: the open objects behind the numbered handles that the layer hands out.
// Handles are numbered from 1 up and never reused, unlike descriptor numbers: a stale handle
// finds nothing instead of an object opened later. Any thread.

#include <map>
#include <memory>
#include <mutex>

namespace platform {

template <typename Handle, typename Object>
class HandleRegistry {
  public:
    Handle Add(std::shared_ptr<Object> object) {
        std::lock_guard guard(lock_);
        const Handle handle = nextHandle_++;
        objects_[handle] = std::move(object);
        return handle;
    }
    std::shared_ptr<Object> Find(Handle handle) {
        std::lock_guard guard(lock_);
        auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second;
    }
    std::shared_ptr<Object> Remove(Handle handle) {
        std::lock_guard guard(lock_);
        auto it = objects_.find(handle);
        if (it == objects_.end()) return nullptr;
        auto object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

  private:
    std::mutex lock_;
    std::map<Handle, std::shared_ptr<Object>> objects_;  // guarded by lock_
    Handle nextHandle_ = 1;                              // guarded by lock_
};

}  // namespace platform
