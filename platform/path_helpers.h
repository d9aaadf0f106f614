// Path helpers on Windows path texts ("\" separators, drive letters), shared by the file
// operations, backup reception and sending, archiving and the backup list. They work on the
// caller's text only; nothing here touches the file system.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace vantry {

// Everything up to and including the last "\" or ":"; empty when there is neither.
std::string ExtractFilePath(std::string_view path);
// The directory part without its trailing "\", except that a root such as "C:\" keeps it.
std::string ExtractFileDir(std::string_view path);
// The part after the last "\" or ":".
std::string ExtractFileName(std::string_view path);
// Appends "\" unless the text already ends in one; the empty text becomes "\".
std::string IncludeTrailingBackslash(std::string_view path);
// `path` with its extension (the text from the last "." on, when no "\" or ":" follows that
// ".") replaced by `extension`; a name without one gets `extension` appended.
std::string ChangeFileExt(std::string_view path, std::string_view extension);
// Drops one trailing "\" when present.
std::string ExcludeTrailingBackslash(std::string_view path);

}  // namespace vantry
