// A fresh, private directory on the host for the duration of a scope: tests map a drive letter
// onto it (DriveMap::Set('T', dir.path())) and work with Windows paths below "T:\".
//
// Thread safety: a TempDir is a plain owner; share it only by reference within its scope.
#pragma once

#include <string>

namespace vantry {

class TempDir {
 public:
  // Creates /tmp/vantry-XXXXXX (or under $TMPDIR). Throws EOSError when it cannot.
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Removes the directory and everything in it; never throws.
  ~TempDir();

  // The host path of the directory, without a trailing "/".
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace vantry
