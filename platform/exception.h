// The error model of the whole system: exceptions of named classes that carry a message.
// Both the class name and the message reach remote callers, so both are interface: every class
// reports a stable wire name through ClassName() (never typeid), and messages are composed with
// Format() from printf-style templates.
//
// Thread safety: exception objects are plain values; share them only by copying.
#pragma once

#include <fmt/printf.h>

#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace vantry {

// printf-style formatting (%s, %d, %x, ...), as every message template of the system is written.
template <typename... Args>
std::string Format(std::string_view templ, const Args&... args) {
  return fmt::sprintf(templ, args...);
}

// The platform's base exception. Derived classes are declared with VANTRY_EXCEPTION so that
// each one reports its own class name and can rethrow itself as its dynamic type.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  ~Exception() override = default;

  // The class name as it travels on the wire, e.g. "EOSError".
  virtual const char* ClassName() const { return "Exception"; }
  // Throws a copy of this object as its most derived class.
  [[noreturn]] virtual void Raise() const { throw *this; }
  // A heap copy of this object as its most derived class.
  virtual std::unique_ptr<Exception> Clone() const { return std::make_unique<Exception>(*this); }

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Declares exception class `Name` derived from `Base`, inheriting Base's constructors.
#define VANTRY_EXCEPTION_BODY(Name, Base)                                          \
 public:                                                                          \
  using Base::Base;                                                               \
  const char* ClassName() const override { return #Name; }                        \
  [[noreturn]] void Raise() const override { throw *this; }                       \
  std::unique_ptr<::vantry::Exception> Clone() const override {                   \
    return std::make_unique<Name>(*this);                                         \
  }

#define VANTRY_EXCEPTION(Name, Base) \
  class Name : public Base {         \
    VANTRY_EXCEPTION_BODY(Name, Base) \
  }

// A failed operating-system call: "System Error.  Code: %d.\r\n%s", or
// "A call to an OS function failed" when the system gave no code. Build with
// platform/os_error.h (OSError(code)), which holds the one table of codes and texts.
class EOSError : public Exception {
  VANTRY_EXCEPTION_BODY(EOSError, Exception)
  EOSError(int error_code, std::string message)
      : Exception(std::move(message)), error_code_(error_code) {}
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_ = 0;
};

VANTRY_EXCEPTION(EInOutError, Exception);
VANTRY_EXCEPTION(EConvertError, Exception);
VANTRY_EXCEPTION(EAssertionFailed, Exception);
VANTRY_EXCEPTION(EStreamError, Exception);
VANTRY_EXCEPTION(EReadError, EStreamError);      // "Stream read error"
VANTRY_EXCEPTION(EWriteError, EStreamError);
VANTRY_EXCEPTION(EFOpenError, EStreamError);     // "Cannot open file "%s". %s"
VANTRY_EXCEPTION(EFCreateError, EStreamError);   // "Cannot create file "%s". %s"
VANTRY_EXCEPTION(EIntfCastError, Exception);     // "Interface not supported"

inline constexpr const char kStreamReadError[] = "Stream read error";

// Throws EReadError "Stream read error".
[[noreturn]] void RaiseStreamReadError();

// Assertions stay active in the built program: raises EAssertionFailed
// "%s (%s, line %d)" with `text`, `unit` and `line` when `condition` is false.
void Assert(bool condition, const std::string& text, const char* unit, int line);

}  // namespace vantry
