#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "installer/MVDaemonInstaller.h"
#include "platform/Exception.h"
#include "platform/FileManager.h"

// The platform's file manager, with its changes counted and, on request,
// accepted without being applied, or removals recorded without removing.
class RecordingFileManager : public platform::FileManager {
 public:
  bool setAttributes(const platform::FileAttributes& attributes, const std::string& path,
                     platform::ErrorSlot* error) override {
    changes.push_back(attributes);
    if (ignoreChanges) return true;
    return FileManager::setAttributes(attributes, path, error);
  }
  bool removeItemAtPath(const std::string& path, platform::ErrorSlot* error) override {
    removals.push_back(path);
    if (removalError) {
      if (error) *error = *removalError;
      return false;
    }
    if (pretendRemovals) return true;
    return FileManager::removeItemAtPath(path, error);
  }

  std::vector<platform::FileAttributes> changes;
  std::vector<std::string> removals;
  bool ignoreChanges = false;
  bool pretendRemovals = false;
  std::optional<platform::Error> removalError;
};

// The exception an installer call raised, or a test failure when it raised none.
inline platform::Exception raisedBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const platform::Exception& exception) {
    return exception;
  }
  ADD_FAILURE() << "no exception was raised";
  return platform::Exception("none", "");
}
