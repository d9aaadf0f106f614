// Feeds arbitrary bytes to the binary message reader, then reads a run of value types from the
// body: whatever arrives, reading must end in a runtime exception or succeed, never crash,
// over-read or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "remoting/message.h"
#include "remoting/testing/test_types.h"

namespace vantry {
namespace {

using testing_types::TTestDerived;
using testing_types::TTestIntList;
using testing_types::TTestStringList;
using testing_types::TTestStruct;

void ReadValues(TROBinMessage& message) {
  std::string text;
  message.Read("Text", text);
  std::unique_ptr<TROBinaryMemoryStream> binary;
  message.Read("Binary", binary);
  std::unique_ptr<TTestStringList> strings;
  message.Read("Strings", strings);
  std::unique_ptr<TTestIntList> ints;
  message.Read("Ints", ints);
  std::unique_ptr<TTestStruct> record;
  message.Read("Struct", record);
  Variant variant;
  message.Read("Variant", variant);
  GuidString guid;
  message.Read("Guid", guid);
  Variant decimal;
  message.Read("Decimal", DecimalTypeInfo(), &decimal);
  std::u16string wide;
  message.Read("Wide", wide);
  XmlNode xml;
  message.Read("Xml", xml);
  bool flag = false;
  message.Read("Flag", flag);
  long double extended = 0;
  message.Read("Extended", extended);
  int64_t big = 0;
  message.Read("Int64", big);
}

}  // namespace
}  // namespace vantry

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantry;
  testing_types::RegisterTestTypes();
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TROBinMessage message;
  try {
    // Odd sizes take the path where the message takes charge of the buffer.
    if (size % 2 == 1) {
      auto source = std::make_unique<TROBinaryMemoryStream>(bytes);
      message.ReadFromStream(source);
    } else {
      TROBinaryMemoryStream source(bytes);
      message.ReadFromStream(source);
    }
    ReadValues(message);
  } catch (const Exception&) {
    // Refusing bad input is the expected outcome.
  }
  return 0;
}
