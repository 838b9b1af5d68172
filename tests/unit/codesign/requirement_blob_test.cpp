// Reading compiled requirement blobs: every opcode the text compiler knows
// reads into a tree whose text compiles to the same tree, and malformed
// blobs fail with a status instead of reading past their end.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "codesign/InternalRequirements.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"

namespace codesign {
namespace {

using Program = std::vector<std::uint8_t>;

void put32(Program* p, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) p->push_back(static_cast<std::uint8_t>(value >> shift));
}

// A program written word by word: numbers, or data operands given as text.
// Implicit on purpose, so that a program reads as a list of words.
struct Op {
  Op(int value) { put32(&bytes, static_cast<std::uint32_t>(value)); }
  Op(unsigned value) { put32(&bytes, value); }
  Op(const char* data) { putData(data); }
  Op(const std::string& data) { putData(data); }
  void putData(std::string_view data) {
    put32(&bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    while (bytes.size() % 4 != 0) bytes.push_back(0);
  }
  Program bytes;
};

Program program(std::initializer_list<Op> ops) {
  Program p;
  for (const Op& op : ops) p.insert(p.end(), op.bytes.begin(), op.bytes.end());
  return p;
}

Program blob(const Program& body, std::uint32_t kind = 1) {
  Program b;
  put32(&b, 0xfade0c00);
  put32(&b, static_cast<std::uint32_t>(body.size() + 12));
  put32(&b, kind);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Program date(std::uint64_t since2001) {
  Program p;
  put32(&p, static_cast<std::uint32_t>(since2001 >> 32));
  put32(&p, static_cast<std::uint32_t>(since2001));
  return p;
}

Program operator+(Program a, const Program& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The text of the requirement a blob holds, or "status N".
std::string textOf(const Program& bytes) {
  RequirementRef requirement;
  if (const OSStatus status = Requirement::read(bytes, &requirement); status != errSecSuccess) {
    EXPECT_EQ(requirement, nullptr);
    return "status " + std::to_string(status);
  }
  std::string text;
  if (const OSStatus status = requirement->text(&text); status != errSecSuccess) {
    return "text status " + std::to_string(status);
  }
  return text;
}

std::string recompiled(const std::string& text) {
  RequirementRef requirement;
  std::string again;
  if (Requirement::compile(text, &requirement) != errSecSuccess || requirement->text(&again) != errSecSuccess) {
    return "does not compile";
  }
  return again;
}

const std::string kSha1("\x61\x1e\x5b\x66\x2c\x59\x3a\x08\xff\x58\xd1\x4a\xe2\x24\x52\xd1\x98\xdf\x6c\x60", 20);
const std::string kHashText = "H\"611e5b662c593a08ff58d14ae22452d198df6c60\"";
const std::string kDevIdOID("\x2a\x86\x48\x86\xf7\x63\x64\x06\x01\x0d", 10);  // 1.2.840.113635.100.6.1.13

TEST(RequirementBlob, ReadsEveryOpcodeIntoTextThatCompilesToTheSameTree) {
  const std::pair<Program, std::string> rows[] = {
      {program({0}), "never"},
      {program({1}), "always"},
      {program({2, "com.example.app"}), "identifier \"com.example.app\""},
      {program({3}), "anchor apple"},
      {program({4, 0xffffffff, kSha1}), "certificate root = " + kHashText},
      {program({4, 2, kSha1}), "certificate 2 = " + kHashText},
      {program({5, "CFBundleVersion", "1.0"}), "info[CFBundleVersion] = \"1.0\""},
      {program({6, 1, 7, 0, 1}), "always and (never or always)"},
      {program({7, 6, 1, 0, 1}), "always and never or always"},
      {program({6, 6, 1, 0, 1}), "always and never and always"},
      {program({6, 1, 6, 0, 1}), "always and (never and always)"},
      {program({8, kSha1}), "cdhash " + kHashText},
      {program({9, 7, 1, 0}), "!(always or never)"},
      {program({10, "k", 0}), "info[k] /* exists */"},
      {program({10, "k", 1, "v"}), "info[k] = v"},
      {program({10, "k", 2, "v"}), "info[k] ~ v"},
      {program({10, "k", 3, "v"}), "info[k] = v*"},
      {program({10, "k", 4, "v"}), "info[k] = *v"},
      {program({10, "k", 5, "1.9"}), "info[k] < \"1.9\""},
      {program({10, "k", 6, "v"}), "info[k] > v"},
      {program({10, "k", 7, "v"}), "info[k] <= v"},
      {program({10, "k", 8, "v"}), "info[k] >= v"},
      {program({10, "k", 9}) + date(0), "info[k] = timestamp \"20010101000000Z\""},
      {program({10, "k", 10}) + date(86400), "info[k] < timestamp \"20010102000000Z\""},
      {program({10, "k", 11}) + date(~std::uint64_t{0}), "info[k] > timestamp \"20001231235959Z\""},
      {program({10, "k", 12}) + date(1), "info[k] <= timestamp \"20010101000001Z\""},
      {program({10, "k", 13}) + date(0), "info[k] >= timestamp \"20010101000000Z\""},
      {program({10, "k", 14}), "info[k] absent"},
      {program({11, 0, "subject.OU", 1, "ABCDE12345"}), "certificate leaf[subject.OU] = ABCDE12345"},
      {program({12, 1}), "certificate trusted"},
      {program({13}), "certificate trusted"},
      {program({14, 0, kDevIdOID, 0}), "certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */"},
      {program({14, 1, std::string("\x55\x1d\x13", 3), 14}), "certificate 1[field.2.5.29.19] absent"},
      {program({14, 0, std::string("\x88\x37\x01", 3), 0}), "certificate leaf[field.2.999.1] /* exists */"},
      {program({15}), "anchor apple generic"},
      {program({16, "com.example.flag", 1, "true"}), "entitlement[com.example.flag] = \"true\""},
      {program({17, 0xfffffffe, kDevIdOID, 0}), "certificate -2[policy.1.2.840.113635.100.6.1.13] /* exists */"},
      {program({20, 2}), "platform 2"},
      {program({21}), "notarized"},
      {program({22, 0, kDevIdOID, 10}) + date(0),
       "certificate leaf[timestamp.1.2.840.113635.100.6.1.13] < timestamp \"20010101000000Z\""},
      {program({23}), "legacy"},
  };
  for (const auto& [body, expected] : rows) {
    const std::string text = textOf(blob(body));
    EXPECT_EQ(text, expected);
    if (text == expected) {
      EXPECT_EQ(recompiled(text), text);
    }
  }
}

// A requirement encoded by hand from the compiled format's rules.
TEST(RequirementBlob, ReadsAHandEncodedDesignatedRequirement) {
  const std::string exists = std::string(4, '\0');
  const Program body = program({6, 6, 15, 2, "com.example.helper", 7, 14, 0,
                                std::string("\x2a\x86\x48\x86\xf7\x63\x64\x06\x01\x09", 10), 0, 6, 6, 14, 1,
                                std::string("\x2a\x86\x48\x86\xf7\x63\x64\x06\x02\x06", 10), 0, 14, 0, kDevIdOID,
                                0, 11, 0, "subject.OU", 1, "ABCDE12345"});
  const Program bytes = blob(body);
  ASSERT_EQ(bytes.size(), 192u);
  const std::string expected =
      "anchor apple generic and identifier \"com.example.helper\" and (certificate "
      "leaf[field.1.2.840.113635.100.6.1.9] /* exists */ or certificate 1[field.1.2.840.113635.100.6.2.6] "
      "/* exists */ and certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate "
      "leaf[subject.OU] = ABCDE12345)";
  EXPECT_EQ(textOf(bytes), expected);
}

TEST(RequirementBlob, FailsClosedOnMalformedBlobs) {
  const std::string invalid = "status " + std::to_string(errSecCSReqInvalid);
  const std::string unimplemented = "status " + std::to_string(errSecCSUnimplemented);
  const Program good = blob(program({2, "com.example.app"}));

  // The header: magic, length equal to the blob's, the expression kind.
  EXPECT_EQ(textOf(Program(good.begin(), good.begin() + 11)), invalid);
  Program wrong = good;
  wrong[3] = 0x01;
  EXPECT_EQ(textOf(wrong), invalid);
  wrong = good;
  wrong[7] += 4;
  EXPECT_EQ(textOf(wrong), invalid);
  EXPECT_EQ(textOf(blob(program({1}), 2)), "status " + std::to_string(errSecCSReqUnsupported));
  EXPECT_EQ(textOf(blob({})), invalid);

  // Every cut inside the program, and a word left over.
  for (std::size_t cut = 12; cut < good.size(); ++cut) {
    EXPECT_EQ(textOf(blob(Program(good.begin() + 12, good.begin() + static_cast<std::ptrdiff_t>(cut)))), invalid)
        << cut;
  }
  EXPECT_EQ(textOf(blob(program({1, 1}))), invalid);
  EXPECT_EQ(textOf(blob(program({6, 1}))), invalid);
  EXPECT_EQ(textOf(blob(program({10, "k", 9}) + Program(4, 0))), invalid);
  EXPECT_EQ(textOf(blob(program({2, 0x7ffffffc}))), invalid);
  EXPECT_EQ(textOf(blob(program({2, 0xffffffff}))), invalid);

  // Operands the format does not allow.
  EXPECT_EQ(textOf(blob(program({8, kSha1.substr(1)}))), invalid);
  EXPECT_EQ(textOf(blob(program({11, 0, "issuer.CN", 0}))), invalid);
  EXPECT_EQ(textOf(blob(program({14, 0, "", 0}))), invalid);
  EXPECT_EQ(textOf(blob(program({14, 0, std::string("\x2a\x80\x01", 3), 0}))), invalid);
  EXPECT_EQ(textOf(blob(program({14, 0, std::string("\x2a\x86", 2), 0}))), invalid);
  EXPECT_EQ(textOf(blob(program({14, 0, std::string("\x2a\xff\xff\xff\xff\xff\xff\xff\xff\xff\x7f", 11), 0}))), invalid);
  EXPECT_EQ(textOf(blob(program({10, "k", 9}) + date(0x7fffffffffffffff))), invalid);

  // Opcodes and match operations this engine does not know, flagged or not.
  EXPECT_EQ(textOf(blob(program({24}))), unimplemented);
  EXPECT_EQ(textOf(blob(program({0x80000018, 0}))), unimplemented);
  EXPECT_EQ(textOf(blob(program({0x40000018, 0}))), unimplemented);
  EXPECT_EQ(textOf(blob(program({10, "k", 15}))), unimplemented);

  // Values the blob can hold and the text cannot.
  const std::string unwritable = "text status " + std::to_string(errSecCSReqInvalid);
  EXPECT_EQ(textOf(blob(program({20, 0xffffffff}))), unwritable);
  EXPECT_EQ(textOf(blob(program({4, 0x80000000u, kSha1}))), unwritable);
  EXPECT_EQ(textOf(blob(program({2, "a\\b"}))), unwritable);

  // Named anchors and requirements read, but their names cannot be written.
  EXPECT_EQ(textOf(blob(program({18, "name"}))), "text status " + std::to_string(errSecCSReqUnsupported));
  EXPECT_EQ(textOf(blob(program({19, "name"}))), "text status " + std::to_string(errSecCSReqUnsupported));
}

// Nesting is bounded before the stack is: the limit reads, one more fails.
TEST(RequirementBlob, BoundsNesting) {
  const auto nots = [](unsigned count) {
    Program p;
    for (unsigned i = 0; i < count; ++i) put32(&p, 9);
    put32(&p, 1);
    return p;
  };
  EXPECT_EQ(textOf(blob(nots(999))), std::string(999, '!') + "always");
  EXPECT_EQ(textOf(blob(nots(1000))), "status " + std::to_string(errSecCSReqInvalid));
  EXPECT_EQ(textOf(blob(nots(100000))), "status " + std::to_string(errSecCSReqInvalid));
}

// A requirement set: count, then (type, offset) pairs, then the blobs.
Program requirementSet(const std::vector<std::pair<std::uint32_t, Program>>& entries) {
  Program index, blobs;
  const auto headerSize = static_cast<std::uint32_t>(12 + 8 * entries.size());
  for (const auto& [type, body] : entries) {
    put32(&index, type);
    put32(&index, headerSize + static_cast<std::uint32_t>(blobs.size()));
    blobs = blobs + body;
  }
  Program set;
  put32(&set, 0xfade0c01);
  put32(&set, static_cast<std::uint32_t>(headerSize + blobs.size()));
  put32(&set, static_cast<std::uint32_t>(entries.size()));
  return set + index + blobs;
}

OSStatus readSet(const Program& bytes, InternalRequirements* out) {
  return readInternalRequirements(ByteReader(bytes), out);
}

TEST(RequirementBlob, FindsTheDesignatedRequirementInTheSet) {
  const Program designated = blob(program({2, "com.example.app"}));
  const Program host = blob(program({1}));
  InternalRequirements found;  // views into the set it was read from
  const Program set = requirementSet({{1, host}, {3, designated}});
  ASSERT_EQ(readSet(set, &found), errSecSuccess);
  EXPECT_EQ(found.count, 2u);
  ASSERT_TRUE(found.designated.has_value());
  EXPECT_EQ(Program(found.designated->bytes().begin(), found.designated->bytes().end()), designated);

  ASSERT_EQ(readSet(requirementSet({{1, host}}), &found), errSecSuccess);
  EXPECT_EQ(found.count, 1u);
  EXPECT_FALSE(found.designated.has_value());
}

TEST(RequirementBlob, RefusesMalformedSets) {
  const Program designated = blob(program({1}));
  const Program good = requirementSet({{3, designated}});
  InternalRequirements found;
  const auto status = [&](Program bytes) { return readSet(bytes, &found); };

  EXPECT_EQ(status(Program(good.begin(), good.end() - 1)), errSecCSReqInvalid);  // length says more
  Program wrong = good;
  wrong[3] = 0x00;  // magic
  EXPECT_EQ(status(wrong), errSecCSReqInvalid);
  wrong = good;
  wrong[11] = 0x40;  // an index larger than the set
  EXPECT_EQ(status(wrong), errSecCSReqInvalid);
  wrong = good;
  wrong[19] = 0x08;  // a blob starting inside the index
  EXPECT_EQ(status(wrong), errSecCSReqInvalid);
  wrong = good;
  wrong[19] += 4;  // a blob running past the set's end
  EXPECT_EQ(status(wrong), errSecCSReqInvalid);
  wrong = good;
  wrong[22] = 0x0d;  // the requirement blob's own magic
  EXPECT_EQ(status(wrong), errSecCSReqInvalid);
  wrong = good;
  wrong[27] = 0x04;  // a requirement blob shorter than its header
  EXPECT_EQ(status(wrong), errSecCSReqInvalid);
  EXPECT_EQ(status(requirementSet({{3, designated}, {3, designated}})), errSecCSReqInvalid);
  EXPECT_EQ(status(Program(good.begin(), good.begin() + 8)), errSecCSReqInvalid);
}

}  // namespace
}  // namespace codesign
