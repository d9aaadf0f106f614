// Arbitrary bytes as an existing archive: the central directory reader, the local headers it
// points to, and the re-encoding of every entry it accepts.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/exception.h"
#include "platform/os_error.h"
#include "zip/zip_names.h"
#include "zip/zip_records.h"

namespace vantry {
namespace {

// A read-only File over the fuzzer's bytes.
class MemoryFile : public File {
 public:
  explicit MemoryFile(std::string data) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, Size() - position_));
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
  }
  void Write(const void*, int64_t) override { RaiseOSError(kErrorAccessDenied); }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    int64_t base = origin == SeekOrigin::kBegin ? 0 : origin == SeekOrigin::kCurrent ? position_ : Size();
    if (base + offset < 0) RaiseOSError(kErrorNegativeSeek);
    return position_ = base + offset;
  }
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t) override { RaiseOSError(kErrorAccessDenied); }
  void Flush() override {}
  void Close() override {}

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace
}  // namespace vantry

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantry;
  if (size == 0) return 0;
  MemoryFile file(std::string(reinterpret_cast<const char*>(data), size));
  try {
    for (ZipEntry& entry : ReadCentralDirectory(file)) {
      AnsiNameOf(entry);
      int64_t data_offset = 0;
      try {
        entry.local_extra = ReadLocalExtra(file, entry, &data_offset);
      } catch (const Exception&) {
      }
      FinishEntryRecords(&entry);
      EncodeLocalHeader(entry);
      EncodeCentralHeader(entry);
    }
  } catch (const Exception&) {
  }
  return 0;
}
