// Temporary files that stand in for a file while its new content is written. The content goes
// into "<file>.~XXXX.tmp" beside the file (XXXX four hex digits), is flushed there and is then
// renamed over the file, so the file's own name never shows half of it: a writer killed on the
// way leaves only its temporary file, and the next writer of that file removes what is left.
// Archive saves and file copies both write this way; the leftovers of either are the other's too.
// Paths are Windows paths through a FileSystem.
//
// Thread safety: stateless; safe from any thread as long as the FileSystem is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"

namespace vantry {

// "<file_name>.~XXXX.tmp" with XXXX the low 16 bits of `number` in upper-case hex.
std::string TemporaryNameFor(const std::string& file_name, uint32_t number);

// Calls `create` with names made by `name_for` from fresh random numbers until one is free, and
// returns that name. `create` must create the name exclusively (FileDisposition::kCreateNew) and
// fail with EOSError 80 when it is taken. Any other failure is passed on, as is 80 once 65536
// names were taken.
std::string CreateUnderFreshName(const std::function<std::string(uint32_t number)>& name_for,
                                 const std::function<void(const std::string& name)>& create);

// Removes the temporary files left beside `file_name` by writers that did not finish. A
// temporary file that is still open for data belongs to a writer at work and stays, as does one
// the file system refuses to delete. Returns false when one of them was still open for data.
bool RemoveLeftoverTemporaryFiles(FileSystem& file_system, const std::string& file_name);

}  // namespace vantry
