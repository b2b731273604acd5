#include "threads/InterThreadMsg.h"

TThreadMessage::TThreadMessage(const void* from, int msg, std::uintptr_t wParam,
                               std::intptr_t lParam)
    : from_(from), msg_(msg), wParam_(wParam), lParam_(lParam) {}

TThreadMessage::TThreadMessage(const void* from, int msg, std::unique_ptr<std::byte[]> block,
                               int length)
    : block_(std::move(block)),
      from_(from),
      msg_(msg),
      wParam_(reinterpret_cast<std::uintptr_t>(block_.get())),
      lParam_(length) {}
