#include "platform/path_helpers.h"

namespace vantry {
namespace {

// Index just past the last "\" or ":", or 0.
size_t DirectoryPartLength(std::string_view path) {
  size_t pos = path.find_last_of("\\:");
  return pos == std::string_view::npos ? 0 : pos + 1;
}

}  // namespace

std::string ExtractFilePath(std::string_view path) {
  return std::string(path.substr(0, DirectoryPartLength(path)));
}

std::string ExtractFileDir(std::string_view path) {
  size_t n = DirectoryPartLength(path);
  // "C:\" and "\" keep their backslash: the character before it is a drive colon or nothing.
  if (n > 1 && path[n - 1] == '\\' && path[n - 2] != ':' && path[n - 2] != '\\') --n;
  return std::string(path.substr(0, n));
}

std::string ExtractFileName(std::string_view path) {
  return std::string(path.substr(DirectoryPartLength(path)));
}

std::string IncludeTrailingBackslash(std::string_view path) {
  std::string result(path);
  if (result.empty() || result.back() != '\\') result += '\\';
  return result;
}

std::string ExcludeTrailingBackslash(std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  size_t dot = path.find_last_of(".\\:");
  if (dot == std::string_view::npos || path[dot] != '.') dot = path.size();
  std::string result(path.substr(0, dot));
  result += extension;
  return result;
}

}  // namespace vantry
