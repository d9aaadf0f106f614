// File-system helpers shared by the operations of TVantryService and the work built on them
// (backup reception and sending, archiving, the backup list): the directory search with an
// attribute mask and creating a directory path. The file existence test is FileSystem::FileExists.
// Paths are Windows paths, used exactly as the caller passes them.
//
// Thread safety: stateless; safe from any thread as long as the FileSystem is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/file_system.h"

namespace vantry {

// The entries of the directory of `pattern` whose names match its last component ("*", "?",
// letter case ignored), in the order the file system delivers them. Hidden, system and
// directory entries come only when `attribute_mask` names their attribute; with
// kFindAllAttributes (63) every entry comes, "." and ".." included. A missing directory gives
// nothing.
std::vector<FileEntry> FindFiles(FileSystem& file_system, const std::string& pattern,
                                 uint32_t attribute_mask = kFindAllAttributes);

// Creates `directory` and every missing directory above it. A trailing "\" is ignored; a path of
// fewer than 3 characters, an existing directory or a path that is its own directory part counts
// as done. Returns whether the path now exists; a failure to create is not an exception. Throws
// EInOutError "Unable to create directory" for an empty path.
bool ForceDirectories(FileSystem& file_system, const std::string& directory);

}  // namespace vantry
