#pragma once
// The error kinds that the program raises. Each carries its message text; handlers that show or
// log an error use what() alone.

#include <stdexcept>
#include <string>

// A general error.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A text could not be converted (to a number, to hexadecimal digits, ...).
class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

// A pointer argument was empty or not writable.
class EInvalidPointer : public Exception {
  public:
    using Exception::Exception;
};

// A list refused an operation (a duplicate item, ...).
class EListError : public Exception {
  public:
    using Exception::Exception;
};
