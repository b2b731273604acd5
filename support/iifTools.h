#pragma once
// A value chosen by a condition.

#include <cstdint>
#include <string>

inline int32_t IIF(bool condition, int32_t ifTrue, int32_t ifFalse) {
    return condition ? ifTrue : ifFalse;
}

// Note the order: the text for false comes first, the reverse of IIF.
inline std::string IIFStr(bool condition, const std::string& ifFalse, const std::string& ifTrue) {
    return condition ? ifTrue : ifFalse;
}
