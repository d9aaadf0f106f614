// The exceptions of the remote-call runtime (`EROException` and its family) and the registry of
// exception classes through which a client recreates an exception from the class name that an
// error message carries.
//
// Thread safety: exception objects are plain values. The registry is filled at start-up, before
// the server is switched on, and only read afterwards; its operations lock internally, so
// lookups from any number of threads are safe.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

namespace vantry {

struct FieldInfo;  // remoting/type_info.h

// Base of every error raised by the runtime. Its published fields (none in the runtime's own
// classes) travel after the message text inside an error message.
class EROException : public Exception {
  VANTRY_EXCEPTION_BODY(EROException, Exception)
  // The published fields of the most derived class (inherited ones included), in any order;
  // the serializer sorts them. The runtime's classes publish nothing.
  virtual std::vector<FieldInfo> PublishedFields() const;
};

VANTRY_EXCEPTION(EROInvalidStream, EROException);

// A refusal by server dispatch. Carries an extra text besides the message: the optional trailing
// string of a received error message.
class EROServerException : public EROException {
  VANTRY_EXCEPTION_BODY(EROServerException, EROException)
  const std::string& ServerExceptionText() const { return server_exception_text_; }
  void SetServerExceptionText(std::string text) { server_exception_text_ = std::move(text); }

 private:
  std::string server_exception_text_;
};

// Recreated on the client in place of a server exception whose class is not registered.
VANTRY_EXCEPTION(EROUnregisteredServerException, EROServerException);
// Raised by a service implementation to ask that no response be sent.
VANTRY_EXCEPTION(EROSendNoResponse, EROException);
VANTRY_EXCEPTION(EROChannelBusy, EROException);
VANTRY_EXCEPTION(EROUnknownItem, EROException);
// "Type "%s" not supported".
VANTRY_EXCEPTION(EROUnknownType, EROUnknownItem);
VANTRY_EXCEPTION(EROCircularReference, EROException);
VANTRY_EXCEPTION(EROSessionNotFound, EROException);
VANTRY_EXCEPTION(EROSessionExpired, EROSessionNotFound);
VANTRY_EXCEPTION(SessionNotFoundException, EROSessionNotFound);
VANTRY_EXCEPTION(EROMessageTooLarge, EROException);
VANTRY_EXCEPTION(SessionDoesNotHaveRequiredRolesException, EROException);
// Problems with arrays inside variants.
VANTRY_EXCEPTION(EROBinaryConversionException, EROException);

// Failures of zlib while compressing or decompressing a message body; the text is
// ZlibResultText() of zlib's result code.
VANTRY_EXCEPTION(EZlibError, Exception);
VANTRY_EXCEPTION(EZCompressionError, EZlibError);
VANTRY_EXCEPTION(EZDecompressionError, EZlibError);

// The fixed text of a zlib result code ("Data error" for -3, ...); "" for codes zlib never returns.
const char* ZlibResultText(int zlib_result);

// One entry of the exception registry: a class that a client may recreate by name.
struct ExceptionClass {
  const char* name;  // the wire name, e.g. "EROUnknownType"
  // Makes an exception of this class with `message`.
  std::unique_ptr<EROException> (*create)(std::string message);
};

// The registry entry of exception class `E` (an EROException descendant with the standard
// message constructor).
template <typename E>
ExceptionClass ExceptionClassOf() {
  return {E("").ClassName(), [](std::string message) -> std::unique_ptr<EROException> {
            return std::make_unique<E>(std::move(message));
          }};
}

// Appends `cls` to the registry (duplicates are kept; the first match wins on lookup). The
// registry starts with the runtime's classes in their start-up order: EROUnknownType,
// EROMessageTooLarge, EROSessionNotFound, EROSessionExpired, SessionNotFoundException,
// SessionDoesNotHaveRequiredRolesException, EROSessionNotFound again, EROSendNoResponse.
void RegisterExceptionClass(const ExceptionClass& cls);
// Removes every entry named `name` (exact match); used at shutdown.
void UnregisterExceptionClass(std::string_view name);
// The first registered class whose name equals `name` ignoring ASCII letter case, else the
// class EROUnregisteredServerException.
ExceptionClass FindExceptionClass(std::string_view name);

}  // namespace vantry
