#pragma once

// A root-owned copy of a file that no one else can reach until it is whole
// and has passed its checks. Where the system and the file system have
// nameless files (O_TMPFILE, NamelessFile.h) it has no name in the directory
// where it will be installed, so it vanishes with the process however the
// run ends; installing it links it under a hidden temporary name and renames
// that over the old item in one step. Where they have none (macOS, some
// Linux file systems) it is named from the start: a copy of an executable in
// the staging folder, a folder of root's alone (0700) inside the directory
// it will be installed in, a file with contents under its hidden temporary
// name beside its destination; installing it is then the one rename. Either
// way the final path shows the old item or the whole new one, and a named
// file that is never installed is removed when it goes.
// From its creation until its run ends the file is locked (flock), so that a
// name found later tells a live run's file from one whose run died before
// the rename; each run removes what dead runs left (the installer's
// removeAbandonedStagingFiles).

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/ScopedFd.h"

namespace platform {

// Where a named staged file is, until it is installed: the name is removed
// when it goes, unless the file was installed by then.
class StagedName {
 public:
  StagedName() = default;
  StagedName(ScopedFd folder, std::string name) : _folder(std::move(folder)), _name(std::move(name)) {}
  StagedName(StagedName&&) noexcept = default;
  StagedName& operator=(StagedName&& other) noexcept;
  StagedName(const StagedName&) = delete;
  StagedName& operator=(const StagedName&) = delete;
  ~StagedName() { remove(); }

  bool named() const { return _folder.valid(); }
  int folder() const { return _folder.get(); }
  const std::string& name() const { return _name; }
  // The file now has its final name: nothing to remove any more.
  void installed() { _folder.reset(); }

 private:
  void remove() noexcept;
  ScopedFd _folder;
  std::string _name;
};

class StagedFile {
 public:
  // Which side of a copy failed: reading the original, or making and
  // writing the copy.
  enum class Failure { kSource, kDestination };

  // Whether a staged file may be nameless: where it can be, by default;
  // always named on request, which is what macOS always does.
  enum class Staging { kNamelessWherePossible, kNamed };

  // The folder, inside the directory the copies of executables will be
  // installed in, that holds them while they have names: only root may
  // open, link or rename what is in it.
  static constexpr const char* kStagingFolderName = ".staging";

  // Copies the regular file open at `source`, as long as it was when the
  // copy began and at most kMaximumFileRead bytes, into a new nameless file
  // of mode 0600 in `directory`, or named in its staging folder (made on
  // demand, and refused unless it is a real folder of this process's user
  // with mode 0700). Holes stay holes, so a sparse original costs the disk
  // no more than it cost its owner. Nothing, with the side that failed and
  // errno set, otherwise.
  static std::optional<StagedFile> copyOfFile(int source, const std::string& directory, Failure* failure,
                                              Staging staging = Staging::kNamelessWherePossible);

  // A new file that will become `path`, holding `contents`, flushed to disk,
  // made with `mode` less the umask: nameless in the path's directory, or
  // named beside it under a hidden temporary name. Nothing with errno set: a
  // full disk or a file-size limit shows here, before the file is installed.
  static std::optional<StagedFile> withContents(const std::string& contents, const std::string& path, mode_t mode,
                                                Staging staging = Staging::kNamelessWherePossible);

  // Whether the regular file at the path is a staged file whose run still
  // holds it. Anything that cannot be opened, or is not a regular file, is
  // held by no one.
  static bool isHeldByALiveRun(const std::string& path);

  // Readable and writable; the copy's bytes start at offset 0.
  int fd() const { return _file.get(); }

  // Owner and group first, then the mode, which a change of owner would
  // otherwise strip of its set-user-ID bit. False with errno set.
  bool setOwnerAndMode(uid_t user, gid_t group, mode_t mode);

  // Gives the copy the name `path` (in the directory it was made for),
  // replacing what is there in one rename. False with errno set; the old
  // item then stays as it was.
  bool replaceItemAtPath(const std::string& path);

 private:
  StagedFile(ScopedFd file, StagedName name) : _file(std::move(file)), _name(std::move(name)) {}
  // The locked file every staged file starts as: nameless in `directory`
  // where it can be, otherwise what `named(directory)` makes.
  template <typename Named>
  static std::optional<StagedFile> create(const std::string& directory, mode_t mode, Staging staging, Named named);
  bool linkOver(int parent, const std::string& name);

  ScopedFd _file;
  StagedName _name;
};

}  // namespace platform
