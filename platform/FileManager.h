#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/FileAttributes.h"

namespace platform {

using ErrorSlot = std::optional<Error>;

// The file operations the installer relies on. Failures answer false (or
// nothing) and, where the caller passes an error slot, leave a POSIX-domain
// error in it; a success leaves the slot as it was. Owner names come from
// the user database; group id 0 is always called "wheel" and the name
// "wheel" always means group id 0, so that what is set by name is what is
// demanded by number. Operations are virtual so that tests can stand in a
// file system that misbehaves.
class FileManager {
 public:
  FileManager() = default;
  virtual ~FileManager() = default;
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;

  // The process-wide manager.
  static FileManager& defaultManager();

  // True when anything exists at the path; a symbolic link counts as itself,
  // whether or not its target exists.
  virtual bool fileExistsAtPath(const std::string& path) const;
  virtual bool fileExistsAtPath(const std::string& path, bool* isDirectory) const;

  // Creates the directory and any missing parents; the attributes (only
  // posixPermissions is honoured) apply to every directory created.
  virtual bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                     const FileAttributes* attributes, ErrorSlot* error);

  // Writes a file with the contents, replacing an existing one atomically:
  // a new file beside it is renamed over the old.
  virtual bool createFileAtPath(const std::string& path, const std::string& contents,
                                const FileAttributes* attributes);

  // The attributes of the item itself, never of a link's target.
  virtual std::optional<FileAttributes> attributesOfItemAtPath(const std::string& path,
                                                               ErrorSlot* error) const;

  // Applies owner and group first, then the mode, so that a set-user-ID mode
  // survives a change of owner. Never follows a symbolic link at the last
  // component.
  virtual bool setAttributes(const FileAttributes& attributes, const std::string& path,
                             ErrorSlot* error);

  // Removes the item; a directory goes with everything in it, and a
  // symbolic link inside it is removed, never followed.
  virtual bool removeItemAtPath(const std::string& path, ErrorSlot* error);
  virtual bool moveItemAtPath(const std::string& source, const std::string& destination,
                              ErrorSlot* error);
  // Copies a file, or a directory with its contents; a symbolic link is
  // copied as a link.
  virtual bool copyItemAtPath(const std::string& source, const std::string& destination,
                              ErrorSlot* error);

  // The names of the items in the directory, "." and ".." left out, in no
  // particular order.
  virtual std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                            ErrorSlot* error) const;

  // Clears the set-user-ID and set-group-ID bits of a regular file on its
  // inode, so that whoever holds it open, or a hard link to it, can no
  // longer run it with its owner's rights. Anything but a regular file
  // (a link is not followed) is left alone and counts as done.
  virtual bool removeSetIDBitsOfItemAtPath(const std::string& path, ErrorSlot* error);

  // Whether the user-immutable ("locked") flag is set on the item; nothing
  // when it cannot be read.
  virtual std::optional<bool> isUserImmutable(const std::string& path, ErrorSlot* error) const;
};

}  // namespace platform
