#include "remoting/binary_stream.h"

#include <algorithm>
#include <cstring>

#include "platform/exception.h"

namespace vantry {

TROBinaryMemoryStream::TROBinaryMemoryStream(std::string_view bytes) {
  Write(bytes);
  position_ = 0;
}

TROBinaryMemoryStream::TROBinaryMemoryStream(const TROBinaryMemoryStream& other) {
  Write(other.View());
  position_ = other.position_;
}

TROBinaryMemoryStream& TROBinaryMemoryStream::operator=(const TROBinaryMemoryStream& other) {
  if (this != &other) {
    Clear();
    Write(other.View());
    position_ = other.position_;
  }
  return *this;
}

TROBinaryMemoryStream::TROBinaryMemoryStream(TROBinaryMemoryStream&& other) noexcept
    : data_(std::move(other.data_)),
      start_(std::exchange(other.start_, 0)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      position_(std::exchange(other.position_, 0)) {}

TROBinaryMemoryStream& TROBinaryMemoryStream::operator=(TROBinaryMemoryStream&& other) noexcept {
  data_ = std::move(other.data_);
  start_ = std::exchange(other.start_, 0);
  size_ = std::exchange(other.size_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
  position_ = std::exchange(other.position_, 0);
  return *this;
}

void TROBinaryMemoryStream::SetPosition(int64_t position) {
  position_ = position < 0 ? 0 : static_cast<size_t>(position);
}

void TROBinaryMemoryStream::Reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  auto fresh = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_ > 0) std::memcpy(fresh.get(), Data(), size_);
  data_ = std::move(fresh);
  start_ = 0;
  capacity_ = capacity;
}

void TROBinaryMemoryStream::Grow(size_t needed) {
  if (needed <= capacity_) return;
  // Doubling keeps appends amortised O(1); the first block is small for the many tiny messages.
  Reserve(std::max({needed, capacity_ * 2, size_t{256}}));
}

void TROBinaryMemoryStream::SetSize(int64_t size) {
  size_t new_size = size < 0 ? 0 : static_cast<size_t>(size);
  Reserve(new_size);
  size_ = new_size;
  position_ = std::min(position_, size_);
}

void TROBinaryMemoryStream::Release() {
  data_.reset();
  start_ = size_ = capacity_ = position_ = 0;
}

size_t TROBinaryMemoryStream::Read(void* dest, size_t count) {
  size_t n = std::min(count, Remaining());
  if (n > 0) std::memcpy(dest, Data() + position_, n);
  position_ += n;
  return n;
}

void TROBinaryMemoryStream::ReadBuffer(void* dest, size_t count) {
  if (Read(dest, count) != count) RaiseStreamReadError();
}

void TROBinaryMemoryStream::Write(const void* src, size_t count) {
  if (count == 0) return;
  size_t end = position_ + count;
  Grow(end);
  if (position_ > size_) std::memset(Data() + size_, 0, position_ - size_);
  std::memcpy(Data() + position_, src, count);
  position_ = end;
  size_ = std::max(size_, end);
}

void TROBinaryMemoryStream::Assign(const TROBinaryMemoryStream& source) {
  if (this == &source) {
    position_ = size_;
    return;
  }
  Clear();
  Write(source.View());
}

TROBinaryMemoryStream TROBinaryMemoryStream::TakeRest() {
  size_t skipped = std::min(position_, size_);
  TROBinaryMemoryStream rest(std::move(*this));
  rest.start_ += skipped;
  rest.size_ -= skipped;
  rest.capacity_ -= skipped;
  rest.position_ = 0;
  return rest;
}

}  // namespace vantry
