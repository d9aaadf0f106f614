// Complex types: `TROComplexType` (base of structs and arrays), `TROArray` (base of arrays) with
// the ready-made element storage `TROTypedArray<T>`, and the registry of complex-type classes
// through which the serializer recreates a struct from the class name in a message body.
//
// Declaring a struct:
//   class TPoint : public TROComplexType {
//     VANTRY_COMPLEX_CLASS(TPoint)
//     int32_t x = 0;
//   };
//   const ClassInfo& TPoint::StaticClass() {
//     static const ClassInfo info = MakeClassInfo<TPoint, TROComplexType>(
//         "TPoint", {Field<&TPoint::x>("X")});
//     return info;
//   }
// An array: `class FileList : public TROTypedArray<std::string> { VANTRY_COMPLEX_CLASS(FileList)
// };` with MakeClassInfo<FileList, TROArray>("FileList").
//
// Thread safety: objects belong to one thread at a time. The registry is filled at start-up and
// read afterwards; its operations lock internally.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "remoting/type_info.h"

namespace vantry {

class TROStreamSerializer;

// Declares the class description accessors of a complex type; define StaticClass() in the .cc.
#define VANTRY_COMPLEX_CLASS(Name)                 \
 public:                                           \
  static const ::vantry::ClassInfo& StaticClass(); \
  const ::vantry::ClassInfo& GetClass() const override { return StaticClass(); }

class TROComplexType {
 public:
  TROComplexType() = default;
  TROComplexType(const TROComplexType&) = default;
  TROComplexType& operator=(const TROComplexType&) = default;
  virtual ~TROComplexType() = default;

  static const ClassInfo& StaticClass();
  virtual const ClassInfo& GetClass() const { return StaticClass(); }

  // Write or read this object's own content (no presence flag, class name or count): for a
  // struct every published field in wire order. Read errors propagate; fields read before the
  // failure keep their values.
  virtual void WriteComplex(TROStreamSerializer& serializer);
  virtual void ReadComplex(TROStreamSerializer& serializer);
};

// The description of class T derived from Base, with the fields T itself declares. T gets a
// factory unless it is abstract or not default-constructible.
template <typename T, typename Base>
ClassInfo MakeClassInfo(const char* name, std::vector<FieldInfo> fields = {}) {
  const ClassInfo& base = Base::StaticClass();
  ClassInfo info{name, &base, base.category, nullptr, std::move(fields)};
  if constexpr (!std::is_abstract_v<T> && std::is_default_constructible_v<T>) {
    info.create = []() -> std::unique_ptr<TROComplexType> { return std::make_unique<T>(); };
  }
  return info;
}

class TROArray : public TROComplexType {
  VANTRY_COMPLEX_CLASS(TROArray)

  virtual int Count() const = 0;
  // Sets count and capacity to `count` (new elements default, surplus dropped).
  virtual void Resize(int count) = 0;
  virtual const TypeInfo& ElementType() const = 0;
  // The variable of element `index`; throws EROException "Array index out of bounds (%d).".
  virtual void* ElementAddress(int index) = 0;

  // Every element in index order with its element type's encoding.
  void WriteComplex(TROStreamSerializer& serializer) override;
  void ReadComplex(TROStreamSerializer& serializer) override;
};

// Throw the array errors; out of line so that the templates stay small.
[[noreturn]] void RaiseArrayIndexOutOfBounds(int index);  // "Array index out of bounds (%d)."
[[noreturn]] void RaiseArrayInvalidIndex(int index);      // "Invalid index %d"

// An array whose elements are C++ values of type T (std::string for the contract's lists).
template <typename T>
class TROTypedArray : public TROArray {
 public:
  int Count() const override { return count_; }
  int Capacity() const { return static_cast<int>(items_.size()); }
  const TypeInfo& ElementType() const override { return TypeInfoOf<T>(); }
  void* ElementAddress(int index) override { return &Items(index); }

  T& Items(int index) {
    if (index < 0 || index >= count_) RaiseArrayIndexOutOfBounds(index);
    return items_[index];
  }
  const T& Items(int index) const { return const_cast<TROTypedArray*>(this)->Items(index); }
  // A copy of the elements, in order.
  std::vector<T> ToVector() const { return std::vector<T>(items_.begin(), items_.begin() + count_); }

  // Appends `value` and returns its index. A full storage grows by 4 up to a capacity of 8, by 16
  // up to 64, then by a quarter.
  int Add(T value) {
    if (count_ == Capacity()) {
      int capacity = Capacity();
      int delta = capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 4;
      items_.resize(capacity + delta);
    }
    items_[count_] = std::move(value);
    return count_++;
  }

  void Resize(int count) override {
    if (count == count_) return;
    if (count < 0) count = 0;
    items_.resize(count);
    // Slots that become visible again must read as new elements.
    for (int i = count_; i < count; ++i) items_[i] = T();
    count_ = count;
  }

  // Removes element `index`, shifting the later ones down; the storage is cut to the new count.
  void Delete(int index) {
    if (index < 0 || index >= count_) RaiseArrayInvalidIndex(index);
    items_.erase(items_.begin() + index);
    --count_;
    items_.resize(count_);
  }

  void Clear() {
    items_.clear();
    count_ = 0;
  }

  void Assign(const TROTypedArray& source) {
    Clear();
    Resize(source.count_);
    for (int i = 0; i < count_; ++i) items_[i] = source.items_[i];
  }

 private:
  std::vector<T> items_;  // size() is the capacity
  int count_ = 0;
};

// Adds `cls` to the registry; registering the same class again does nothing. A different class
// with a name already registered (same letters in any case) raises EROException
// "Class "%s" is already registered".
void RegisterComplexTypeClass(const ClassInfo& cls);
// Removes `cls` (shutdown).
void UnregisterComplexTypeClass(const ClassInfo& cls);
// The first registered class whose name equals `name` ignoring ASCII case; nullptr when none.
const ClassInfo* FindComplexTypeClass(std::string_view name);

}  // namespace vantry
