// TROBinaryMemoryStream: the growable in-memory byte buffer with a read/write position that
// carries message bodies, Binary values and frames.
//
// Thread safety: none; one thread at a time (a stream belongs to one call or one connection).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vantry {

class TROBinaryMemoryStream {
 public:
  TROBinaryMemoryStream() = default;
  // Content = `bytes`, position 0.
  explicit TROBinaryMemoryStream(std::string_view bytes);
  TROBinaryMemoryStream(const TROBinaryMemoryStream& other);
  TROBinaryMemoryStream& operator=(const TROBinaryMemoryStream& other);
  TROBinaryMemoryStream(TROBinaryMemoryStream&& other) noexcept;
  TROBinaryMemoryStream& operator=(TROBinaryMemoryStream&& other) noexcept;
  virtual ~TROBinaryMemoryStream() = default;

  static constexpr const char* kClassName = "TROBinaryMemoryStream";

  int64_t Size() const { return static_cast<int64_t>(size_); }
  int64_t Position() const { return static_cast<int64_t>(position_); }
  // Moves the position; it may lie beyond the end (a later write fills the gap with zeros).
  void SetPosition(int64_t position);
  void Rewind() { position_ = 0; }
  // Bytes between the position and the end (0 when the position is beyond the end).
  size_t Remaining() const { return position_ < size_ ? size_ - position_ : 0; }

  // Sets the size; new bytes are uninitialised, the position is kept (clamped to the new size).
  // Capacity is allocated once for the exact size, so a frame of known length costs one allocation.
  void SetSize(int64_t size);
  // Makes room for `capacity` bytes without changing size or position.
  void Reserve(size_t capacity);
  // Drops the content: size and position 0; keeps the allocation for reuse.
  void Clear() { size_ = position_ = 0; }
  // Drops the content and the allocation.
  void Release();

  // Copies up to `count` bytes from the position; returns how many were copied.
  size_t Read(void* dest, size_t count);
  // Copies exactly `count` bytes or throws EReadError "Stream read error" (copying what is there).
  void ReadBuffer(void* dest, size_t count);
  // Writes `count` bytes at the position, growing the stream as needed; advances the position.
  void Write(const void* src, size_t count);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }

  // Direct access to the content; valid until the next size change.
  char* Data() { return data_.get() + start_; }
  const char* Data() const { return data_.get() + start_; }
  std::string_view View() const { return {Data(), size_}; }
  // The whole content as a byte string (independent of the position).
  std::string ToString() const { return std::string(View()); }

  // Replaces the content by a copy of `source`'s whole content; the position ends at the end.
  void Assign(const TROBinaryMemoryStream& source);

  // Moves the bytes from the position to the end into a new stream (position 0) without copying
  // them: the new stream takes over this one's allocation, and this one is left empty.
  TROBinaryMemoryStream TakeRest();

 private:
  void Grow(size_t needed);

  std::unique_ptr<char[]> data_;
  size_t start_ = 0;     // where the content begins in data_ (not 0 after TakeRest)
  size_t size_ = 0;
  size_t capacity_ = 0;  // bytes usable from start_
  size_t position_ = 0;
};

}  // namespace vantry
