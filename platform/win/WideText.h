#pragma once
// UTF-8, the program's text, to and from the UTF-16 of the system's wide calls.

#include <string>

namespace platform {

std::wstring WideText(const std::string& text);
std::string Utf8Text(const std::wstring& text);

}  // namespace platform
