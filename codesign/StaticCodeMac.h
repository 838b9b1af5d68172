#pragma once

// macOS only: what the create calls hand out there, the framework's objects
// and, for code opened by descriptor, the file they must still name.

#include <sys/types.h>

#include <optional>
#include <string>

#include <Security/Security.h>

#include "codesign/CFRef.h"

namespace codesign {

// A file's identity: the same device and inode are the same file.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

class StaticCode {
 public:
  StaticCode(CFRef<SecStaticCodeRef> code, std::string path, std::optional<FileIdentity> pinned)
      : _code(std::move(code)), _path(std::move(path)), _pinned(pinned) {}
  SecStaticCodeRef code() const { return _code.get(); }
  const std::string& path() const { return _path; }
  // Set for code opened by descriptor: the path must still name that file.
  const std::optional<FileIdentity>& pinned() const { return _pinned; }

 private:
  CFRef<SecStaticCodeRef> _code;
  std::string _path;
  std::optional<FileIdentity> _pinned;
};

class Requirement {
 public:
  explicit Requirement(CFRef<SecRequirementRef> requirement) : _requirement(std::move(requirement)) {}
  SecRequirementRef get() const { return _requirement.get(); }

 private:
  CFRef<SecRequirementRef> _requirement;
};

// The path as a file URL; empty when the framework cannot make one.
CFRef<CFURLRef> fileURL(const std::string& path);

// True when `path` names the file `identity` describes, a regular file,
// without following a final symbolic link.
bool namesFile(const std::string& path, const FileIdentity& identity);

}  // namespace codesign
