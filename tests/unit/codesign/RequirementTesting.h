#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "codesign/Requirement.h"
#include "codesign/Status.h"

namespace testing_support {

// Compiles text that must compile, and evaluates it against the subject.
inline codesign::OSStatus compileAndEvaluate(
    std::string_view text, const codesign::RequirementSubject& subject) {
  codesign::RequirementRef requirement;
  const codesign::OSStatus status =
      codesign::Requirement::compile(text, &requirement);
  EXPECT_EQ(status, codesign::errSecSuccess) << text;
  return status == codesign::errSecSuccess ? requirement->evaluate(subject) : status;
}

// This tool's own requirement for an identifier and team.
inline std::string toolRequirement(std::string_view identifier, std::string_view team = "Q7MK2RX5VN") {
  return "anchor apple generic and identifier \"" + std::string(identifier) +
         "\" and (certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate "
         "1[field.1.2.840.113635.100.6.2.6] and certificate leaf[field.1.2.840.113635.100.6.1.13] and "
         "certificate leaf[subject.OU] = \"" + std::string(team) + "\")";
}

}  // namespace testing_support
