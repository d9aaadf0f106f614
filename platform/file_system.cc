#include "platform/file_system.h"

#include "platform/codepage.h"
#include "platform/exception.h"
#include "platform/os_error.h"
#include "platform/temporary_files.h"

namespace vantry {
namespace {

// Classic wildcard match with one backtracking point; both texts already upper-cased.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesFilePattern(std::string_view pattern, std::string_view name) {
  std::string upper_pattern = AnsiUpperCase(pattern);
  // "*.*" at the end stands for any rest, with or without a dot, as on Windows.
  if (upper_pattern.size() >= 3 && upper_pattern.ends_with("*.*")) {
    upper_pattern.resize(upper_pattern.size() - 2);
  }
  return WildcardMatch(upper_pattern, AnsiUpperCase(name));
}

// Runs `call`, turning an EOSError into false.
template <typename Call>
bool SucceedsWithoutOSError(Call call) {
  try {
    call();
    return true;
  } catch (const EOSError&) {
    return false;
  }
}

bool FileSystem::TryDeleteFile(const std::string& path) {
  return SucceedsWithoutOSError([&] { DeleteFile(path); });
}

bool FileSystem::TryCreateDirectory(const std::string& path) {
  return SucceedsWithoutOSError([&] { CreateDirectory(path); });
}

std::string FileSystem::CreateTempFile(const std::string& directory, std::string_view prefix) {
  std::string base = directory;
  if (base.empty() || (base.back() != '\\' && base.back() != '/')) base += '\\';
  base += prefix.substr(0, 3);
  return CreateUnderFreshName(
      [&](uint32_t number) { return Format("%s%04X.tmp", base, number & 0xFFFF); },
      [&](const std::string& path) {
        OpenFile(path, FileAccess::kWrite, FileShare::kReadWrite, FileDisposition::kCreateNew)
            ->Close();
      });
}

std::unique_ptr<File> FileSystem::OpenFileStream(const std::string& path, FileAccess access,
                                                 FileShare share, FileDisposition disposition) {
  try {
    return OpenFile(path, access, share, disposition);
  } catch (const EOSError& e) {
    std::string_view reason = Win32ErrorText(e.ErrorCode());
    if (disposition == FileDisposition::kOpenExisting) {
      throw EFOpenError(Format("Cannot open file \"%s\". %s", path, reason));
    }
    throw EFCreateError(Format("Cannot create file \"%s\". %s", path, reason));
  }
}

std::string FileSystem::ReadWholeFile(const std::string& path) {
  std::unique_ptr<File> file =
      OpenFileStream(path, FileAccess::kRead, FileShare::kRead, FileDisposition::kOpenExisting);
  std::string content;
  char buffer[65536];
  while (int64_t n = file->Read(buffer, sizeof(buffer))) content.append(buffer, n);
  file->Close();
  return content;
}

}  // namespace vantry
