#include "suite/MVBrenlowSuite.h"

#include <unistd.h>

#include "platform/FileManager.h"
#include "platform/Path.h"
#include "platform/TrustedDirectory.h"

namespace {

const char* const kSupportDirectory = "/Library/Application Support/com.quennard.brenlow";
const char* const kLaunchDaemonsDirectory = "/Library/LaunchDaemons";

}  // namespace

MVBrenlowSuite& MVBrenlowSuite::instance() {
  // Created once, on first request, and never destroyed.
  static MVBrenlowSuite* const shared = new MVBrenlowSuite();
  return *shared;
}

platform::FileAttributes MVBrenlowSuite::defaultFileAttrs() const {
  platform::FileAttributes attributes;
  attributes.posixPermissions = 0600;
  attributes.ownerAccountID = static_cast<std::int32_t>(getuid());
  attributes.groupOwnerAccountName = "wheel";
  return attributes;
}

bool MVBrenlowSuite::writePlist(const platform::PlistValue& plist, const std::string& toPath) const {
  const std::string data = platform::xmlPropertyListData(plist);
  const platform::FileAttributes attributes = defaultFileAttrs();
  return platform::FileManager::defaultManager().createFileAtPath(toPath, data, &attributes);
}

std::string MVBrenlowSuite::appBundleId() const { return "com.quennard.brenlow"; }
std::string MVBrenlowSuite::helperBundleId() const { return "com.quennard.brenlow-helper"; }
std::string MVBrenlowSuite::serverBundleId() const { return "com.quennard.brenlow-server"; }
std::string MVBrenlowSuite::dataDirectoryName() const { return "data"; }

std::string MVBrenlowSuite::serverLaunchDaemonFilePath() const {
  const std::string path = platform::stringByAppendingPathComponent(kLaunchDaemonsDirectory, serverBundleId());
  return platform::stringByAppendingPathExtension(path, "plist");
}

std::string MVBrenlowSuite::helperInstalledPath() const { return baseSupportDirectory(std::nullopt, "helper"); }
std::string MVBrenlowSuite::serverInstalledPath() const { return baseSupportDirectory(std::nullopt, "brenlowd"); }
std::string MVBrenlowSuite::serverSocketPath() const { return baseSupportDirectory(std::nullopt, "brenlowd.sock"); }

std::string MVBrenlowSuite::fileAttributeCacheDirectoryPath() const {
  return baseSupportDirectory(dataDirectoryName(), std::nullopt);
}

std::string MVBrenlowSuite::fileAttributeCacheDatabaseFilePath() const {
  return baseSupportDirectory(dataDirectoryName(), "shared.db");
}

std::string MVBrenlowSuite::sharedFilesPath() const {
  return instance().baseSupportDirectory("Shared", std::nullopt);
}

std::string MVBrenlowSuite::baseSupportDirectory(const std::optional<std::string>& directory,
                                                 const std::optional<std::string>& file) const {
  return _baseSupportDirectory(directory, file, true);
}

std::string MVBrenlowSuite::_baseSupportDirectory(const std::optional<std::string>& directory,
                                                  const std::optional<std::string>& file,
                                                  bool createDirectory) const {
  std::string path = kSupportDirectory;
  if (directory) path = platform::stringByAppendingPathComponent(path, *directory);
  if (createDirectory) {
    // A manager of its own, not the shared one; a failure here is met by
    // whoever uses the path. Nothing is made where another user could have
    // laid a link that takes the creation somewhere else.
    platform::FileManager fileManager;
    if (!fileManager.fileExistsAtPath(path) && !platform::firstUntrustedDirectory(path)) {
      fileManager.createDirectoryAtPath(path, true, nullptr, nullptr);
    }
  }
  return file ? platform::stringByAppendingPathComponent(path, *file) : path;
}
