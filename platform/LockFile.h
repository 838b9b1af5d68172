#pragma once

// A small file of root's that serialises runs with flock and carries a short
// record from one run to the next.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ScopedFd.h"

namespace platform {

class LockFile {
 public:
  enum class Access { kShared, kExclusive };

  // A record is a few lines; anything longer was not written by the tool.
  static constexpr std::size_t kMaximumRecord = 4096;

  // Opens `name` in `directory` for reading and writing, creating it with
  // mode 0600 when it is missing. The last component is never followed and
  // a special file is never waited on: anything but a regular file owned by
  // root fails with EPERM, and one that others may read or write is given
  // back to root alone. Nothing with errno set otherwise.
  static std::optional<LockFile> create(const std::string& directory, const std::string& name);

  // Opens an existing lock file for reading only, on the same terms; nothing
  // with errno set (ENOENT when there is none).
  static std::optional<LockFile> openExisting(const std::string& directory, const std::string& name);

  // Takes the lock. When another holder has it, calls `waiting` once and
  // then waits as long as it takes. False with errno set when the lock
  // cannot be taken.
  bool lock(Access access, const std::function<void()>& waiting);

  // The record, as the last replaceRecord left it (empty for a new file);
  // nothing with errno set when it cannot be read or is longer than
  // kMaximumRecord.
  std::optional<std::string> record() const;

  // Writes the record in place (the lock stays with the file) and flushes
  // it to disk. False with errno set.
  bool replaceRecord(std::string_view record);

 private:
  explicit LockFile(ScopedFd file) : _file(std::move(file)) {}
  ScopedFd _file;
};

}  // namespace platform
