#pragma once

#include <string>
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

// This tool's own requirement for an identifier and team.
inline std::string toolRequirement(std::string_view identifier, std::string_view team = "Q7MK2RX5VN") {
  return "anchor apple generic and identifier \"" + std::string(identifier) +
         "\" and (certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate "
         "1[field.1.2.840.113635.100.6.2.6] and certificate leaf[field.1.2.840.113635.100.6.1.13] and "
         "certificate leaf[subject.OU] = \"" + std::string(team) + "\")";
}

}  // namespace testing_support
