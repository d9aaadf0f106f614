#include "platform/exception.h"

namespace vantry {

void RaiseStreamReadError() { throw EReadError(kStreamReadError); }

void Assert(bool condition, const std::string& text, const char* unit, int line) {
  if (!condition) throw EAssertionFailed(Format("%s (%s, line %d)", text, unit, line));
}

}  // namespace vantry
