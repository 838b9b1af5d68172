#pragma once

// Who started the run, and opening files with that user's rights. The tool
// becomes fully root before it does anything, so the caller's user and group
// are taken first; afterwards, files named through a path of the caller's
// are opened as the caller would open them, so that root never reads for
// the caller what the caller could not read, nor tells whether it exists.

#include <sys/types.h>

namespace platform {

struct CallerIdentity {
  uid_t user = 0;
  gid_t group = 0;
  bool isRoot() const { return user == 0; }
};

// The real user and group of the process: call it before they are changed.
CallerIdentity realIdentity();

// While it lives, the file system judges every access of this thread by the
// identity's user and group, with the process's supplementary groups on
// Linux (which the privilege step keeps: they are the caller's) and the
// user's own groups on macOS; root's rights come back when it goes.
// Raises when the change cannot be made, so that nothing is opened as root
// by mistake.
class ScopedCallerFileAccess {
 public:
  explicit ScopedCallerFileAccess(const CallerIdentity& caller);
  ~ScopedCallerFileAccess();
  ScopedCallerFileAccess(const ScopedCallerFileAccess&) = delete;
  ScopedCallerFileAccess& operator=(const ScopedCallerFileAccess&) = delete;

 private:
  uid_t _previousUser;
  gid_t _previousGroup;
};

// Runs `work` with the caller's file access and answers what it answers.
template <typename Work>
auto withCallerFileAccess(const CallerIdentity& caller, Work work) {
  const ScopedCallerFileAccess access(caller);
  return work();
}

}  // namespace platform
