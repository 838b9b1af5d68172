// Where the macOS build finds the slices of a universal file: the header's
// entries, in file order, under the names the Security framework takes.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codesign/SliceArchitectures.h"
#include "codesign/Status.h"

using namespace codesign;

namespace {

using Bytes = std::vector<std::uint8_t>;

void putBig(Bytes* out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<std::uint8_t>(value >> shift));
}

// A universal header with one entry per {cputype, cpusubtype}; the 64-bit
// form has 32-byte entries.
Bytes universal(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries, bool wide = false,
                std::uint32_t declared = 0) {
  Bytes out;
  putBig(&out, wide ? 0xcafebabf : 0xcafebabe);
  putBig(&out, declared != 0 ? declared : static_cast<std::uint32_t>(entries.size()));
  for (const auto& [type, subtype] : entries) {
    putBig(&out, type);
    putBig(&out, subtype);
    out.resize(out.size() + (wide ? 24 : 12), 0);
  }
  return out;
}

constexpr std::uint32_t kArm64 = 0x0100000c;
constexpr std::uint32_t kX86_64 = 0x01000007;

OSStatus namesOf(const Bytes& bytes, std::vector<std::string>* names) { return sliceArchitectures(bytes, names); }

}  // namespace

TEST(SliceArchitectures, NamesEachSliceInFileOrder) {
  std::vector<std::string> names;
  ASSERT_EQ(namesOf(universal({{kX86_64, 3}, {kArm64, 0}}), &names), errSecSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"x86_64", "arm64"}));
  ASSERT_EQ(namesOf(universal({{kArm64, 2}, {kX86_64, 8}}, true), &names), errSecSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"arm64e", "x86_64h"}));
  // Capability bits in the subtype do not change the architecture.
  ASSERT_EQ(namesOf(universal({{kArm64, 0x80000002}}), &names), errSecSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"arm64e"}));
}

TEST(SliceArchitectures, ThinFilesHaveNoTableAndOtherFilesAreNotCode) {
  std::vector<std::string> names{"left over"};
  EXPECT_EQ(namesOf({0xcf, 0xfa, 0xed, 0xfe, 0x0c, 0, 0, 1}, &names), errSecSuccess);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(namesOf({0xfe, 0xed, 0xfa, 0xce}, &names), errSecSuccess);
  EXPECT_EQ(namesOf({0x7f, 'E', 'L', 'F'}, &names), errSecCSUnsigned);
  EXPECT_EQ(namesOf({0xca, 0xfe, 0xba}, &names), errSecCSUnsigned);
  EXPECT_EQ(sliceArchitectures({}, nullptr), errSecCSObjectRequired);
}

TEST(SliceArchitectures, MalformedTablesFailAndLeaveNoNames) {
  const std::vector<Bytes> malformed = {
      universal({}),                                        // no slices
      universal({{kArm64, 0}}, false, 2),                    // declares more than it holds
      universal({{kArm64, 0}}, false, 101),                  // more than any file may declare
      universal({{kArm64, 0}, {kArm64, 0}}),                 // one architecture twice
      universal({{kArm64, 0}, {0x00000012, 0}}),             // one the tool never ships (PowerPC)
      Bytes{0xca, 0xfe, 0xba, 0xbe, 0, 0, 0},                // count cut short
  };
  for (std::size_t i = 0; i < malformed.size(); ++i) {
    std::vector<std::string> names{"left over"};
    EXPECT_EQ(namesOf(malformed[i], &names), errSecCSBadObjectFormat) << "case " << i;
    EXPECT_TRUE(names.empty()) << "case " << i;
  }
  // A 64-bit table is read with 64-bit entries: the second entry lies
  // 32 bytes on, not 20.
  Bytes wide = universal({{kArm64, 0}, {kX86_64, 3}}, true);
  std::vector<std::string> names;
  ASSERT_EQ(namesOf(wide, &names), errSecSuccess);
  EXPECT_EQ(names, (std::vector<std::string>{"arm64", "x86_64"}));
  wide.resize(wide.size() - 1);
  EXPECT_EQ(namesOf(wide, &names), errSecCSBadObjectFormat);
}
