#include "remoting/service_description.h"

#include <pugixml.hpp>
#include <string>

#include "remoting/process_registry.h"

namespace vantry {
namespace {

// The document the program stores, set at start-up (not owned: it lives in the program image).
struct StoredDescription {
  std::string_view bytes;
};
using Registry = ProcessRegistry<StoredDescription>;

// Collects pugixml's output with CRLF line ends, the line ends of the stored document.
class CrlfWriter : public pugi::xml_writer {
 public:
  explicit CrlfWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override {
    const char* bytes = static_cast<const char*>(data);
    for (size_t i = 0; i < size; ++i) {
      if (bytes[i] == '\n') out_.push_back('\r');
      out_.push_back(bytes[i]);
    }
  }

 private:
  std::string& out_;
};

// The document parsed and written out again; empty when it does not parse.
std::string Rewrite(std::string_view stored) {
  pugi::xml_document document;
  unsigned options = pugi::parse_default | pugi::parse_declaration;
  if (!document.load_buffer(stored.data(), stored.size(), options, pugi::encoding_utf8)) return "";
  if (!document.document_element()) return "";
  std::string text;
  CrlfWriter writer(text);
  document.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
  return text;
}

}  // namespace

void SetServiceDescription(std::string_view stored) {
  Registry::Update([&](StoredDescription& description) { description.bytes = stored; });
}

void WriteServiceDescription(TROBinaryMemoryStream& dest) {
  std::string_view bytes =
      Registry::Read([](const StoredDescription& description) { return description.bytes; });
  if (bytes.empty()) throw EResNotFound(Format("Resource %s not found", "CONTRACTFILE"));
  int64_t size_before = dest.Size();
  int64_t position_before = dest.Position();
  try {
    std::string text = Rewrite(bytes);
    if (!text.empty()) {
      dest.Write(text);
      return;
    }
  } catch (...) {
    // Any failure of the rewrite falls back to the stored bytes.
  }
  dest.SetSize(size_before);
  dest.SetPosition(position_before);
  dest.Write(bytes);
}

}  // namespace vantry
