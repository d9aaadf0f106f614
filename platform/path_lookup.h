// The host side of path resolution: finding the names of a path on disk without regard to
// letter case, as a Windows file system would. Internal to the platform layer (paths.cc).
//
// Thread safety: pure reads of the file system; safe from any thread.
#pragma once

#include <string>
#include <vector>

namespace vantry {

// `host_root` joined with `components` (Windows-1252 names, already free of "." and ".."), each
// existing component spelled as on disk: the exact name when it exists, otherwise the first
// host name in sorted order that matches without regard to case. From the first component that
// does not exist on, the caller's spelling is kept (converted to UTF-8). With `exists`, *exists
// tells whether every component was found.
std::string LookUpHostPath(const std::string& host_root, const std::vector<std::string>& components,
                           bool* exists = nullptr);

}  // namespace vantry
