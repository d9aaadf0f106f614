// The names of archive entries: the stored name formed from a file's Windows path (drive, share
// and leading "..\" removed, "/" separators), its encoding in the archive (OEM code page 437,
// else Windows-1252 with host system NTFS, with a Unicode path field whenever it is not ASCII),
// and the Windows-1252 reading of a name stored by any writer, for comparing names.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zip/zip_records.h"

namespace vantry {

// The name an entry for the file `disk_name` is stored under, still in Windows-1252 and with
// "/" separators: D:\Backups\db.fbk -> Backups/db.fbk, \\server\share\dir\db.fbk -> dir/db.fbk.
std::string StoredNameOf(std::string_view disk_name);

// Sets the entry's stored name, host system, UTF-8 flag and Unicode path field for the
// Windows-1252 name `ansi_name`.
void SetEncodedName(std::string_view ansi_name, ZipEntry* entry);

// The entry's name as Windows-1252 text, whatever the writer that stored it: UTF-8 when flagged,
// else the Unicode path field when it belongs to this name, else OEM for MS-DOS hosts and ANSI
// for the others. Characters 1252 lacks become "?".
std::string AnsiNameOf(const ZipEntry& entry);

}  // namespace vantry
