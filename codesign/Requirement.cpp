#include "codesign/Requirement.h"

#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "codesign/Status.h"
#include "codesign/ByteReader.h"
#include "codesign/FailureDetail.h"
#include "codesign/requirement/BlobReader.h"
#include "codesign/requirement/Decompile.h"
#include "codesign/requirement/Evaluate.h"
#include "codesign/requirement/Implicit.h"
#include "codesign/requirement/Expression.h"
#include "codesign/requirement/Lexer.h"
#include "codesign/requirement/Parser.h"

namespace codesign {
namespace {

// The engine answers with statuses only: an allocation failure, or any other
// exception from the standard library, ends here as a status.
template <typename Operation>
OSStatus withoutExceptions(Operation operation) noexcept {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return errSecAllocate;
  } catch (...) {
    return errSecCSInternalError;
  }
}

}  // namespace

Requirement::Requirement(std::unique_ptr<requirement::Expression> expression)
    : _expression(std::move(expression)) {}

Requirement::~Requirement() = default;

void RequirementRelease::operator()(Requirement* requirement) const noexcept { delete requirement; }

OSStatus Requirement::compile(std::string_view text, RequirementRef* result) {
  if (result == nullptr) return errSecCSObjectRequired;
  result->reset();
  return withoutExceptions([&] {
    std::vector<requirement::Token> tokens;
    if (const OSStatus status = requirement::tokenize(text, &tokens); status != errSecSuccess) {
      return status;
    }
    requirement::ExpressionPtr expression;
    if (const OSStatus status = requirement::parse(tokens, &expression); status != errSecSuccess) {
      return status;
    }
    result->reset(new Requirement(std::move(expression)));
    return errSecSuccess;
  });
}

OSStatus Requirement::read(std::span<const std::uint8_t> blob, RequirementRef* result) {
  if (result == nullptr) return errSecCSObjectRequired;
  result->reset();
  return withoutExceptions([&] {
    requirement::ExpressionPtr expression;
    if (const OSStatus status = requirement::readRequirementBlob(ByteReader(blob), &expression);
        status != errSecSuccess) {
      return status;
    }
    result->reset(new Requirement(std::move(expression)));
    return errSecSuccess;
  });
}

OSStatus Requirement::implicitDesignated(const requirement::SignedCode& code, RequirementRef* result) {
  if (result == nullptr) return errSecCSObjectRequired;
  result->reset();
  return withoutExceptions([&] {
    requirement::ExpressionPtr expression;
    if (const OSStatus status = requirement::implicitDesignated(code, &expression); status != errSecSuccess) {
      return status;
    }
    result->reset(new Requirement(std::move(expression)));
    return errSecSuccess;
  });
}

OSStatus Requirement::evaluate(const RequirementSubject& subject, std::string* why) const {
  return withoutExceptions([&] {
    bool satisfied = false;
    const OSStatus status = requirement::evaluate(*_expression, subject, &satisfied);
    if (status != errSecSuccess) return explain(why, status, "the requirement cannot be evaluated");
    if (satisfied) return errSecSuccess;
    std::string clause;
    if (why == nullptr || requirement::decompile(*requirement::falseClause(*_expression, subject), &clause))
      return explain(why, errSecCSReqFailed, "the requirement is not satisfied");
    return explain(why, errSecCSReqFailed, "the requirement's clause '" + clause + "' is not satisfied");
  });
}

OSStatus Requirement::text(std::string* text) const {
  if (text == nullptr) return errSecCSObjectRequired;
  return withoutExceptions([&] { return requirement::decompile(*_expression, text); });
}

}  // namespace codesign
