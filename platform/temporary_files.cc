#include "platform/temporary_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/identity.h"
#include "platform/os_error.h"

namespace vantry {
namespace {

constexpr char kTemporaryInfix[] = ".~";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr int kTemporaryDigits = 4;

// True for a name TemporaryNameFor made for a file named `file_part` (names only, no directory).
bool IsTemporaryNameFor(const std::string& file_part, const std::string& name) {
  std::string prefix = file_part + kTemporaryInfix;
  size_t suffix_length = std::strlen(kTemporarySuffix);
  size_t length = prefix.size() + kTemporaryDigits + suffix_length;
  if (name.size() != length || !AnsiSameText(name.substr(0, prefix.size()), prefix) ||
      !AnsiSameText(name.substr(length - suffix_length), kTemporarySuffix)) {
    return false;
  }
  return std::all_of(name.begin() + prefix.size(), name.begin() + prefix.size() + kTemporaryDigits,
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

std::string TemporaryNameFor(const std::string& file_name, uint32_t number) {
  return Format("%s%s%04X%s", file_name, kTemporaryInfix, number & 0xFFFF, kTemporarySuffix);
}

std::string CreateUnderFreshName(const std::function<std::string(uint32_t number)>& name_for,
                                 const std::function<void(const std::string& name)>& create) {
  for (int attempt = 0;; ++attempt) {
    std::string name = name_for(NewGuid().data1);
    try {
      create(name);
      return name;
    } catch (const EOSError& e) {
      if (e.ErrorCode() != kErrorFileExists || attempt == 0xFFFF) throw;
    }
  }
}

bool RemoveLeftoverTemporaryFiles(FileSystem& file_system, const std::string& file_name) {
  // Split as the file system splits a search pattern, so that the names found and the names
  // deleted are the same whichever separator the caller used.
  size_t split = file_name.find_last_of("\\/:");
  std::string directory = split == std::string::npos ? "" : file_name.substr(0, split + 1);
  std::string file_part = split == std::string::npos ? file_name : file_name.substr(split + 1);
  bool none_in_use = true;
  // A pattern that ends in its only "*" lets the search pick the names out of a large directory
  // without matching every one.
  for (const FileEntry& found : file_system.FindFiles(file_name + kTemporaryInfix + "*")) {
    if ((found.attributes & kFileAttributeDirectory) != 0 ||
        !IsTemporaryNameFor(file_part, found.name)) {
      continue;
    }
    try {
      file_system.DeleteFile(directory + found.name);
    } catch (const EOSError& e) {
      if (e.ErrorCode() == kErrorSharingViolation) none_in_use = false;
    }
  }
  return none_in_use;
}

}  // namespace vantry
