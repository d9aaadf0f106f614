// The copy behind PosixFileSystem::CopyFile and a move to another file system. Internal to the
// platform layer.
//
// A copy never shows a partial file under the target's name: the data goes into a temporary file
// beside the target (see platform/temporary_files.h), is written through to the disk, and is then
// renamed over the target, with the directory written through after the rename. So a copy that
// fails or is killed leaves the target as it was (absent, or the old file untouched); a killed
// copy's temporary file is removed by the next copy to that name. To callers the copy fails as
// an open of the target for writing without sharing would: an existing target that is read-only
// or a directory is refused (5), one open for data by anyone is refused (32), and it is held that
// way from the start until the new file has taken its name, so no open of it begins in between.
// A second copy to the same name while one is under way is refused (32) as well.
//
// Thread safety: safe from any thread, as PosixFileSystem is.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace vantry {

// Copies the host file `from_host` onto `to`, a Windows path of `file_system` that resolves to
// `to_host`, as described above; the copy gets the source's mode bits and times. With `replace`
// false an existing target is never replaced (183). Throws EOSError.
void CopyHostFile(PosixFileSystem& file_system, const std::string& from_host,
                  const std::string& to, const std::string& to_host, bool replace);

// Writes the entries of the directory holding `host_path` through to the disk. Throws EOSError.
void SyncHostDirectoryOf(const std::string& host_path);

// Renames without ever replacing an existing target; returns 0 or the errno value.
int RenameNoReplace(const std::string& from_host, const std::string& to_host);

}  // namespace vantry
