// Which versions may be installed. Root may install any build; a user may
// only keep the installation where it is or move it forward: never below
// the versions root last installed (the floor, kept in the run lock's record
// and raised by every install; remove leaves it), below what is installed,
// or, for the helper, below the running tool. Otherwise any user could bring
// back a signed build with a known flaw, set-user-ID root.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "installer/MVDaemonInstaller.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/Path.h"
#include "platform/RegularFile.h"
#include "suite/MVBrenlowSuite.h"

namespace {

const char* const kVersionException = "general";
const char* const kNoVersion = "none";
const char* const kUnreadable = "unreadable";

// One to three dot-separated decimal numbers; parts left out count as 0.
using Version = std::array<std::uint64_t, 3>;

std::optional<Version> parseVersion(std::string_view text) {
  Version version{};
  const char* next = text.data();
  const char* const end = next + text.size();
  for (std::size_t part = 0; part < version.size(); ++part) {
    const auto [stop, error] = std::from_chars(next, end, version[part]);
    if (error != std::errc() || stop == next) return std::nullopt;
    if (stop == end) return version;
    if (*stop != '.') return std::nullopt;
    next = stop + 1;
  }
  return std::nullopt;
}

// What each architecture states, "none" where it states nothing.
std::vector<std::string> statedVersions(int executable) {
  std::vector<std::string> stated;
  for (const std::optional<std::string>& version : MVBrenlowSuite::instance().bundleVersionsOfExecutable(executable)) {
    stated.push_back(version.value_or(kNoVersion));
  }
  return stated;
}

// The version every architecture states; nothing when they disagree or the
// file could not be read as code.
std::optional<std::string> agreedVersion(const std::vector<std::string>& stated) {
  if (stated.empty()) return std::nullopt;
  for (const std::string& version : stated) {
    if (version != stated.front()) return std::nullopt;
  }
  return stated.front();
}

// The floor record: one line "NAME VERSION" per executable, as last
// installed. Nothing when it is anything else.
using VersionRecord = std::map<std::string, std::string, std::less<>>;

std::optional<VersionRecord> parseRecord(std::string_view text) {
  VersionRecord record;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || blank == 0) return std::nullopt;  // an empty version compares with none
    if (!record.emplace(line.substr(0, blank), line.substr(blank + 1)).second) return std::nullopt;
    text.remove_prefix(end + 1);
  }
  return record;
}

// A version that would break its line is kept as one that cannot be read.
std::string formatRecord(const VersionRecord& record) {
  std::string text;
  for (const auto& [name, version] : record) {
    text += name + ' ' + (version.find('\n') == std::string::npos ? version : kUnreadable) + '\n';
  }
  return text;
}

}  // namespace

std::string MVDaemonInstaller::versionOfExecutable(int executable, const std::string& name) {
  const std::vector<std::string> stated = statedVersions(executable);
  if (const std::optional<std::string> version = agreedVersion(stated)) return *version;
  if (stated.empty()) platform::raise(kVersionException, "Code Signature Validation Failed");
  const auto other = std::find_if(stated.begin(), stated.end(), [&](const auto& v) { return v != stated.front(); });
  platform::raise(kVersionException,
                  platform::format("The bundle's %@ states two versions, %@ and %@, one per architecture: it cannot "
                                   "be installed.",
                                   name, stated.front(), *other));
}

void MVDaemonInstaller::refuseDowngrade(const std::string& installedPath, const std::string& version) {
  if (_caller.isRoot()) return;
  const std::string name = platform::lastPathComponent(installedPath);
  const auto incomparable = [&](const std::string& floor) {
    platform::raise(kVersionException,
                    platform::format("The bundle's %@ (version %@) cannot be compared with the installed one "
                                     "(version %@): only root may install it.",
                                     name, version, floor));
  };
  // A version that cannot be compared could never be a floor either.
  const std::optional<Version> candidate = parseVersion(version);
  if (!candidate) {
    platform::raise(kVersionException,
                    platform::format("The bundle's %@ states version %@, which cannot be compared: only root may "
                                     "install it.",
                                     name, version));
  }
  for (const std::string& floor : versionFloors(installedPath)) {
    const std::optional<Version> lowest = parseVersion(floor);
    if (!lowest) incomparable(floor);
    if (*candidate < *lowest) {
      platform::raise(kVersionException,
                      platform::format("The bundle's %@ (version %@) is older than the installed one (version %@): "
                                       "only root may install it.",
                                       name, version, floor));
    }
  }
}

// The record's version, then the installed file's, then, for the helper,
// the running tool's; "unreadable" for one that is there but cannot be read.
std::vector<std::string> MVDaemonInstaller::versionFloors(const std::string& installedPath) {
  std::vector<std::string> floors;
  const std::optional<std::string> text = _runLock ? _runLock->record() : std::nullopt;
  const std::optional<VersionRecord> record = text ? parseRecord(*text) : std::nullopt;
  // A new lock holds no record; one the tool wrote names both executables.
  if (!record) {
    floors.emplace_back(kUnreadable);
  } else if (!record->empty()) {
    const auto last = record->find(platform::lastPathComponent(installedPath));
    floors.push_back(last != record->end() ? last->second : kUnreadable);
  }
  const platform::ScopedFd installed = platform::openRegularFileForReading(installedPath);
  if (installed.valid()) floors.push_back(agreedVersion(statedVersions(installed.get())).value_or(kUnreadable));
  if (installedPath == MVBrenlowSuite::instance().helperInstalledPath() && _ownVersion) floors.push_back(*_ownVersion);
  return floors;
}

// Raised before the files are put in place: a run that stops in between
// leaves a floor no lower than what is installed.
void MVDaemonInstaller::recordInstalledVersions(const std::string& helperVersion, const std::string& serverVersion) {
  if (!_runLock) return;
  const MVBrenlowSuite& suite = MVBrenlowSuite::instance();
  const VersionRecord record{{platform::lastPathComponent(suite.helperInstalledPath()), helperVersion},
                             {platform::lastPathComponent(suite.serverInstalledPath()), serverVersion}};
  if (!_runLock->replaceRecord(formatRecord(record))) abortWithError("Write to %@ failed.", runLockPath());
}
