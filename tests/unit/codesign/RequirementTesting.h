#pragma once

#include <string_view>

#include <gtest/gtest.h>

#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"

namespace testing_support {

// Compiles text that must compile, and evaluates it against the subject.
inline platform::codesign::OSStatus compileAndEvaluate(
    std::string_view text, const platform::codesign::RequirementSubject& subject) {
  platform::codesign::RequirementRef requirement;
  const platform::codesign::OSStatus status =
      platform::codesign::Requirement::compile(text, &requirement);
  EXPECT_EQ(status, platform::codesign::errSecSuccess) << text;
  return status == platform::codesign::errSecSuccess ? requirement->evaluate(subject) : status;
}

}  // namespace testing_support
