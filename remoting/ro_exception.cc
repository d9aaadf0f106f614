#include "remoting/ro_exception.h"

#include <optional>
#include <vector>

#include "remoting/ascii_text.h"
#include "remoting/process_registry.h"
#include "remoting/type_info.h"

namespace vantry {

std::vector<FieldInfo> EROException::PublishedFields() const { return {}; }

const char* ZlibResultText(int zlib_result) {
  switch (zlib_result) {
    case 2:
      return "Need dictionary";
    case 1:
      return "Stream end";
    case 0:
      return "OK";
    case -1:
      return "File error";
    case -2:
      return "Stream error";
    case -3:
      return "Data error";
    case -4:
      return "Insufficient memory";
    case -5:
      return "Buffer error";
    case -6:
      return "Incompatible version";
    default:
      return "";
  }
}

namespace {

struct ExceptionClasses {
  std::vector<ExceptionClass> classes;

  // The runtime's own classes, in the order a client has always found them.
  ExceptionClasses()
      : classes{ExceptionClassOf<EROUnknownType>(),
                ExceptionClassOf<EROMessageTooLarge>(),
                ExceptionClassOf<EROSessionNotFound>(),
                ExceptionClassOf<EROSessionExpired>(),
                ExceptionClassOf<SessionNotFoundException>(),
                ExceptionClassOf<SessionDoesNotHaveRequiredRolesException>(),
                ExceptionClassOf<EROSessionNotFound>(),
                ExceptionClassOf<EROSendNoResponse>()} {}
};

using Registry = ProcessRegistry<ExceptionClasses>;

}  // namespace

void RegisterExceptionClass(const ExceptionClass& cls) {
  Registry::Update([&](ExceptionClasses& registry) { registry.classes.push_back(cls); });
}

void UnregisterExceptionClass(std::string_view name) {
  Registry::Update([&](ExceptionClasses& registry) {
    std::erase_if(registry.classes, [&](const ExceptionClass& c) { return name == c.name; });
  });
}

ExceptionClass FindExceptionClass(std::string_view name) {
  std::optional<ExceptionClass> found =
      Registry::Read([&](const ExceptionClasses& registry) -> std::optional<ExceptionClass> {
        for (const ExceptionClass& cls : registry.classes) {
          if (AsciiSameText(cls.name, name)) return cls;
        }
        return std::nullopt;
      });
  return found ? *found : ExceptionClassOf<EROUnregisteredServerException>();
}

}  // namespace vantry
