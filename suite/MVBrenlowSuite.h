#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FileAttributes.h"
#include "platform/PropertyList.h"

// The product's fixed identity and install locations, and the code-signature
// check that decides whether an executable may be trusted. The path
// operations under the support directory create the directory that will hold
// the returned path when it is missing.
class MVBrenlowSuite {
 public:
  MVBrenlowSuite() = default;

  // The one shared instance, created on first request.
  static MVBrenlowSuite& instance();

  platform::FileAttributes defaultFileAttrs() const;
  bool writePlist(const platform::PlistValue& plist, const std::string& toPath) const;

  std::string appBundleId() const;
  std::string helperBundleId() const;
  std::string serverBundleId() const;

  std::string serverLaunchDaemonFilePath() const;
  std::string helperInstalledPath() const;
  std::string serverInstalledPath() const;
  std::string serverSocketPath() const;

  std::string dataDirectoryName() const;
  std::string fileAttributeCacheDirectoryPath() const;
  std::string fileAttributeCacheDatabaseFilePath() const;
  std::string sharedFilesPath() const;

  std::string baseSupportDirectory(const std::optional<std::string>& directory,
                                   const std::optional<std::string>& file) const;
  std::string _baseSupportDirectory(const std::optional<std::string>& directory,
                                    const std::optional<std::string>& file,
                                    bool createDirectory) const;

  // True only when the file carries an intact signature that satisfies the
  // pinned requirement for the identifier. Logs the failing call's status.
  bool checkCodeSignatureAtPath(const std::optional<std::string>& path,
                                const std::string& bundleIdentifier) const;
  // The same check of an open private copy of a file, whose log lines name
  // the original: what is verified is then exactly what gets installed.
  bool checkCodeSignatureOfCopy(int copy, const std::string& bundleIdentifier,
                                const std::string& originalPath) const;

  // The version each architecture of the open executable states in its
  // embedded information property list (CFBundleVersion), in file order;
  // nothing for one that states none. An empty list when the file cannot be
  // read as code.
  std::vector<std::optional<std::string>> bundleVersionsOfExecutable(int executable) const;
};
