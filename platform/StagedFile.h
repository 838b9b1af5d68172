#pragma once

// A root-owned copy of a file that has no name until it is whole and has
// passed its checks. Made with O_TMPFILE in the directory where it will be
// installed, it vanishes with the process however the run ends, so a run
// killed at any instant leaves no copy behind; installing it links it under
// a hidden temporary name and renames that over the old item in one step, so
// the final path always shows either the old item or the whole new one.
// From its creation until its run ends the copy is locked (flock), so that a
// hidden temporary name found later tells a live run from one that died
// between the link and the rename.

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/ScopedFd.h"

namespace platform {

class StagedFile {
 public:
  // Which side of a copy failed: reading the original, or making and
  // writing the copy.
  enum class Failure { kSource, kDestination };

  // Copies the regular file open at `source`, as long as it was when the
  // copy began and at most kMaximumFileRead bytes, into a new nameless file
  // of mode 0600 in `directory`. Holes stay holes, so a sparse original
  // costs the disk no more than it cost its owner. Nothing, with the side
  // that failed and errno set, otherwise.
  static std::optional<StagedFile> copyOfFile(int source, const std::string& directory, Failure* failure);

  // A new nameless file in `directory` holding `contents`, flushed to disk,
  // made with `mode` less the umask. Nothing with errno set: a full disk or a
  // file-size limit shows here, before anything has a name.
  static std::optional<StagedFile> withContents(const std::string& contents, const std::string& directory,
                                                mode_t mode);

  // Whether the regular file at the path is a staged file whose run still
  // holds it. Anything that cannot be opened, or is not a regular file, is
  // held by no one.
  static bool isHeldByALiveRun(const std::string& path);

  // Readable and writable; the copy's bytes start at offset 0.
  int fd() const { return _file.get(); }

  // Owner and group first, then the mode, which a change of owner would
  // otherwise strip of its set-user-ID bit. False with errno set.
  bool setOwnerAndMode(uid_t user, gid_t group, mode_t mode);

  // Gives the copy the name `path` (in the directory it was made in),
  // replacing what is there in one rename. False with errno set; the old
  // item then stays as it was.
  bool replaceItemAtPath(const std::string& path);

 private:
  explicit StagedFile(ScopedFd file) : _file(std::move(file)) {}
  // The locked nameless file every staged file starts as.
  static std::optional<StagedFile> createIn(const std::string& directory, mode_t mode);
  ScopedFd _file;
};

}  // namespace platform
