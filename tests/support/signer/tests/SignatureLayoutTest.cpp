// The signer's output, read back: load commands, SuperBlob, CodeDirectories,
// special slots and page hashes, thin and universal, and the sample bundles.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "SignedImage.h"

namespace signer_test {
namespace {

constexpr const char* kHelperId = "com.quennard.brenlow-helper";
constexpr const char* kServerId = "com.quennard.brenlow-server";
constexpr std::uint32_t kCpuARM64 = 0x0100000c;
constexpr std::uint32_t kCpuX86_64 = 0x01000007;

struct SignedFixture {
  const char* name;
  const char* identifier;
  const char* team;  // nullptr: no team in the CodeDirectory
  std::vector<std::uint8_t> hashTypes;
  unsigned pageShift;
  std::uint32_t flags;
};

void PrintTo(const SignedFixture& fixture, std::ostream* out) { *out << fixture.name; }

const std::vector<SignedFixture> kSignedFixtures{
    {"helper-devid-arm64", kHelperId, "Q7MK2RX5VN", {2}, 12, 0},
    {"server-devid-arm64", kServerId, "Q7MK2RX5VN", {2}, 12, 0},
    {"helper-devid-x86_64", kHelperId, "Q7MK2RX5VN", {2}, 12, 0},
    {"helper-devid-otherteam-arm64", kHelperId, "ZX8QW4T2LM", {2}, 12, 0},
    {"helper-appstore-arm64", kHelperId, "Q7MK2RX5VN", {2}, 12, 0},
    {"helper-devid-universal", kHelperId, "Q7MK2RX5VN", {2}, 12, 0},
    {"helper-devid-sha1-sha256", kHelperId, "Q7MK2RX5VN", {1, 2}, 12, 0},
    {"helper-devid-16k-arm64", kHelperId, "Q7MK2RX5VN", {2}, 14, 0},
    {"helper-devid-foreign-root", kHelperId, "Q7MK2RX5VN", {2}, 12, 0},
    {"helper-devid-timestamped-expired", kHelperId, "Q7MK2RX5VN", {2}, 12, 0},
    {"helper-devid-expired-no-timestamp", kHelperId, "Q7MK2RX5VN", {2}, 12, 0},
    {"helper-adhoc-codesign-arm64", kHelperId, nullptr, {2}, 12, 0x2},
    {"helper-devid-serverid-arm64", kServerId, "Q7MK2RX5VN", {2}, 12, 0},
};

class SignedFixtureTest : public testing::TestWithParam<SignedFixture> {
 protected:
  ImageView image = readImage(fixturePath(GetParam().name));
};

TEST_P(SignedFixtureTest, SignatureEndsTheSliceInsideLinkedit) {
  for (const SliceView& slice : image.slices) {
    ASSERT_EQ(slice.codeSignatureCommands, 1u);
    EXPECT_EQ(std::uint64_t(slice.dataoff) + slice.datasize, slice.bytes.size());
    EXPECT_EQ(slice.linkeditEnd, slice.bytes.size());
    EXPECT_EQ(slice.dataoff % 16, 0u);
    ASSERT_LE(slice.superBlobLength, slice.datasize);
    const auto padding = std::span(slice.bytes).subspan(slice.dataoff + slice.superBlobLength);
    EXPECT_TRUE(std::all_of(padding.begin(), padding.end(), [](std::uint8_t b) { return b == 0; }));
  }
}

TEST_P(SignedFixtureTest, SuperBlobHoldsDirectoriesRequirementsAndSignatureInSlotOrder) {
  for (const SliceView& slice : image.slices) {
    std::vector<std::uint32_t> slots;
    for (const auto& entry : slice.blobs) slots.push_back(entry.first);
    std::vector<std::uint32_t> expected{0, 2};
    for (std::size_t i = 1; i < GetParam().hashTypes.size(); ++i) expected.push_back(0x1000 + std::uint32_t(i - 1));
    expected.push_back(0x10000);
    EXPECT_EQ(slots, expected);
    const bool adhoc = GetParam().flags & 0x2;
    EXPECT_EQ(slice.cms().empty(), adhoc);
  }
}

TEST_P(SignedFixtureTest, CodeDirectoriesDescribeTheSlice) {
  const SignedFixture& expected = GetParam();
  for (const SliceView& slice : image.slices) {
    const std::vector<CodeDirectoryView> directories = slice.codeDirectories();
    ASSERT_EQ(directories.size(), expected.hashTypes.size());
    for (std::size_t i = 0; i < directories.size(); ++i) {
      const CodeDirectoryView& cd = directories[i];
      SCOPED_TRACE("slot " + std::to_string(cd.slot));
      EXPECT_EQ(cd.version, 0x20400u);
      EXPECT_EQ(cd.flags, expected.flags);
      EXPECT_EQ(cd.hashType, expected.hashTypes[i]);
      EXPECT_EQ(cd.hashSize, EVP_MD_get_size(algorithmOfHashType(cd.hashType)));
      EXPECT_EQ(cd.pageShift, expected.pageShift);
      EXPECT_EQ(cd.identifier, expected.identifier);
      EXPECT_EQ(cd.team, expected.team ? std::optional<std::string>(expected.team) : std::nullopt);
      EXPECT_EQ(cd.codeLimit, slice.dataoff);
      EXPECT_EQ(cd.nCodeSlots, ((cd.codeLimit - 1) >> cd.pageShift) + 1);
      EXPECT_EQ(cd.execSegBase, slice.textFileoff);
      EXPECT_EQ(cd.execSegLimit, slice.textFilesize);
      EXPECT_EQ(cd.execSegFlags, 1u);  // main binary
    }
  }
}

TEST_P(SignedFixtureTest, SpecialSlotsSealInfoPlistAndRequirements) {
  for (const SliceView& slice : image.slices) {
    for (const CodeDirectoryView& cd : slice.codeDirectories()) {
      ASSERT_EQ(cd.nSpecialSlots, 2u);
      ASSERT_TRUE(slice.infoPlist.has_value());
      EXPECT_EQ(cd.hashSlot(-1), hashOf(algorithmOfHashType(cd.hashType),
                                        std::span(slice.bytes).subspan(slice.infoPlist->first, slice.infoPlist->second)));
      EXPECT_EQ(cd.hashSlot(-2), hashOf(algorithmOfHashType(cd.hashType), slice.blob(2)));
    }
  }
}

TEST_P(SignedFixtureTest, PageHashesMatchTheFile) {
  for (const SliceView& slice : image.slices)
    for (const CodeDirectoryView& cd : slice.codeDirectories()) EXPECT_EQ(mismatchedPages(slice, cd), std::vector<std::uint32_t>{});
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SignedFixtureTest, testing::ValuesIn(kSignedFixtures),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// The self-check above fails when it should: one flipped byte in a page is
// exactly that page's mismatch.
TEST(PageHashSelfCheck, FlippedByteShowsInItsPageOnly) {
  ImageView image = readImage(fixturePath("helper-devid-arm64"));
  SliceView& slice = image.slices.front();
  const CodeDirectoryView cd = slice.codeDirectories().front();
  slice.bytes[2 * 4096 + 17] ^= 0x40;
  EXPECT_EQ(mismatchedPages(slice, cd), std::vector<std::uint32_t>{2});
}

// What llvm-otool reports of a file's load commands.
struct OtoolView {
  int codeSignatureCommands = 0;
  std::uint64_t dataoff = 0, datasize = 0, linkeditFileoff = 0, linkeditFilesize = 0;
};

OtoolView otoolLoadCommands(const std::string& path) {
  const CommandResult result = runCommand({HELPER_OTOOL, "-l", path});
  EXPECT_EQ(result.status, 0) << result.output;
  OtoolView view;
  std::smatch match;
  const std::regex signature(R"(cmd LC_CODE_SIGNATURE\s+cmdsize 16\s+dataoff (\d+)\s+datasize (\d+))");
  const std::regex linkedit(R"(segname __LINKEDIT[\s\S]*?fileoff (\d+)\s+filesize (\d+))");
  for (auto it = std::sregex_iterator(result.output.begin(), result.output.end(), signature); it != std::sregex_iterator(); ++it) {
    ++view.codeSignatureCommands;
    view.dataoff = std::stoull((*it)[1]);
    view.datasize = std::stoull((*it)[2]);
  }
  if (std::regex_search(result.output, match, linkedit)) {
    view.linkeditFileoff = std::stoull(match[1]);
    view.linkeditFilesize = std::stoull(match[2]);
  }
  return view;
}

TEST(LoadCommands, OtoolSeesOneSignatureAtTheEndOfLinkedit) {
  for (const char* name : {"helper-devid-arm64", "helper-devid-x86_64", "server-devid-arm64", "helper-devid-16k-arm64",
                           "helper-devid-sha1-sha256", "helper-devid-timestamped-expired"}) {
    SCOPED_TRACE(name);
    const OtoolView view = otoolLoadCommands(fixturePath(name));
    const std::uint64_t size = std::filesystem::file_size(fixturePath(name));
    EXPECT_EQ(view.codeSignatureCommands, 1);
    EXPECT_EQ(view.dataoff + view.datasize, size);
    EXPECT_EQ(view.linkeditFileoff + view.linkeditFilesize, size);
  }
}

TEST(LoadCommands, UnsignedProgramGainsOneCommandAndKeepsItsCode) {
  const SliceView before = readImage(fixturePath("unsigned-x86_64")).slices.front();
  const SliceView after = readImage(fixturePath("helper-devid-x86_64")).slices.front();
  EXPECT_EQ(after.ncmds, before.ncmds + 1);
  EXPECT_EQ(after.dataoff, (before.bytes.size() + 15) / 16 * 16);
  const std::size_t commandsEnd = 32 + le32(after.bytes, 20);
  ASSERT_LT(commandsEnd, before.bytes.size());
  EXPECT_TRUE(std::equal(before.bytes.begin() + commandsEnd, before.bytes.end(), after.bytes.begin() + commandsEnd));
}

TEST(LoadCommands, LinkerSignatureIsReplacedInPlace) {
  const SliceView linked = readImage(fixturePath("adhoc-arm64")).slices.front();
  const SliceView resigned = readImage(fixturePath("helper-devid-arm64")).slices.front();
  ASSERT_TRUE(linked.isSigned());
  EXPECT_EQ(resigned.ncmds, linked.ncmds);
  EXPECT_EQ(resigned.dataoff, linked.dataoff);
  const std::size_t commandsEnd = 32 + le32(linked.bytes, 20);
  EXPECT_TRUE(std::equal(linked.bytes.begin() + commandsEnd, linked.bytes.begin() + linked.dataoff,
                         resigned.bytes.begin() + commandsEnd));
  const CodeDirectoryView linkerCD = linked.codeDirectories().front();
  EXPECT_EQ(linkerCD.flags, 0x20002u);  // what the linker wrote, for contrast
}

TEST(Universal, SlicesAreAlignedZeroPaddedAndEndTheFile) {
  for (const char* name : {"helper-devid-universal", "helper-devid-universal-unsigned-slice"}) {
    SCOPED_TRACE(name);
    const ImageView image = readImage(fixturePath(name));
    ASSERT_EQ(image.arches.size(), 2u);
    EXPECT_EQ(image.arches[0].cputype, kCpuX86_64);
    EXPECT_EQ(image.arches[1].cputype, kCpuARM64);
    std::uint64_t end = 8 + 20 * image.arches.size();
    for (const FatArchView& arch : image.arches) {
      EXPECT_EQ(arch.offset % (1u << arch.align), 0u);
      EXPECT_LT(arch.offset - end, 1u << arch.align);
      EXPECT_TRUE(std::all_of(image.file.begin() + end, image.file.begin() + arch.offset, [](std::uint8_t b) { return b == 0; }));
      end = arch.offset + arch.size;
    }
    EXPECT_EQ(end, image.file.size());
  }
}

TEST(Universal, OnlyArchLeavesTheOtherSliceUntouched) {
  const ImageView image = readImage(fixturePath("helper-devid-universal-unsigned-slice"));
  const Bytes unsignedProgram = readBytes(fixturePath("unsigned-x86_64"));
  EXPECT_FALSE(image.slices[0].isSigned());
  EXPECT_EQ(image.slices[0].bytes, unsignedProgram);
  EXPECT_TRUE(image.slices[1].isSigned());
}

Bytes fromHex(const std::string& text) {
  Bytes bytes;
  std::string digits;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) bytes.push_back(std::stoi(digits.substr(i, 2), nullptr, 16));
  return bytes;
}

TEST(Requirements, DeveloperIDDesignatedRequirementIsCompiledRightNested) {
  // identifier "com.quennard.brenlow-helper" and anchor apple generic and
  // certificate 1[field.1.2.840.113635.100.6.2.6] exists and certificate
  // leaf[field.1.2.840.113635.100.6.1.13] exists and certificate
  // leaf[subject.OU] = "Q7MK2RX5VN", encoded by hand.
  const Bytes expected = fromHex(
      "fade0c01 000000bc 00000001 00000003 00000014"
      "fade0c00 000000a8 00000001"
      "00000006 00000002 0000001b 636f6d2e7175656e6e6172642e6272656e6c6f772d68656c706572 00"
      "00000006 0000000f"
      "00000006 0000000e 00000001 0000000a 2a864886f76364060206 0000 00000000"
      "00000006 0000000e 00000000 0000000a 2a864886f7636406010d 0000 00000000"
      "0000000b 00000000 0000000a 7375626a6563742e4f55 0000 00000001 0000000a 51374d4b32525835564e 0000");
  EXPECT_EQ(readImage(fixturePath("helper-devid-arm64")).slices.front().blob(2), expected);
}

TEST(Requirements, AppStoreAndAdhocSignaturesStateTheirOwn) {
  const Bytes appStore = readImage(fixturePath("helper-appstore-arm64")).slices.front().blob(2);
  const Bytes marker = fromHex("0000000a 2a864886f76364060109 0000 00000000");
  EXPECT_NE(std::search(appStore.begin(), appStore.end(), marker.begin(), marker.end()), appStore.end());
  EXPECT_EQ(readImage(fixturePath("helper-adhoc-codesign-arm64")).slices.front().blob(2),
            fromHex("fade0c01 0000000c 00000000"));
}

TEST(FaultyVariants, ShortCodeLimitLeavesTheLastPagesUnhashed) {
  const SliceView slice = readImage(fixturePath("helper-devid-short-code-limit-arm64")).slices.front();
  const CodeDirectoryView cd = slice.codeDirectories().front();
  EXPECT_EQ(cd.codeLimit, slice.dataoff - 4096);
  EXPECT_EQ(mismatchedPages(slice, cd), std::vector<std::uint32_t>{});
}

struct BundleFixture {
  const char* bundle;
  const char* helper;  // the standalone fixture it holds as Contents/MacOS/helper, or nullptr
  const char* server;  // the same for Contents/MacOS/brenlowd
};

TEST(Bundles, EachBundleHoldsTheExecutablesItIsNamedFor) {
  const std::vector<BundleFixture> bundles{
      {"Brenlow", "helper-devid-arm64", "server-devid-arm64"},
      {"BrenlowUpdate", "helper-devid-update-arm64", "server-devid-update-arm64"},
      {"HelperWrongIdentifier", "helper-devid-serverid-arm64", "server-devid-arm64"},
      {"HelperOtherTeam", "helper-devid-otherteam-arm64", "server-devid-arm64"},
      {"ServerUnsigned", "helper-devid-arm64", "server-unsigned-arm64"},
      {"ServerWrongIdentifier", "helper-devid-arm64", "server-devid-helperid-arm64"},
      {"NoServer", "helper-devid-arm64", nullptr},
      {"NoHelper", nullptr, "server-devid-arm64"},
  };
  for (const BundleFixture& bundle : bundles) {
    SCOPED_TRACE(bundle.bundle);
    const std::string macOS = fixturePath("bundles/") + bundle.bundle + ".app/Contents/MacOS/";
    EXPECT_TRUE(std::filesystem::is_regular_file(fixturePath("bundles/") + bundle.bundle + ".app/Contents/Info.plist"));
    for (const auto& [executable, fixture] : {std::pair{"helper", bundle.helper}, std::pair{"brenlowd", bundle.server}}) {
      if (!fixture) {
        EXPECT_FALSE(std::filesystem::exists(macOS + executable));
        continue;
      }
      EXPECT_EQ(readBytes(macOS + executable), readBytes(fixturePath(fixture))) << executable;
    }
  }
}

TEST(Bundles, UpdateDiffersFromTheFirstBundleInCodeNotOnlyInSignature) {
  for (const char* executable : {"helper", "brenlowd"}) {
    SCOPED_TRACE(executable);
    const SliceView first = readImage(fixturePath("bundles/Brenlow.app/Contents/MacOS/") + executable).slices.front();
    const SliceView update = readImage(fixturePath("bundles/BrenlowUpdate.app/Contents/MacOS/") + executable).slices.front();
    const CodeDirectoryView a = first.codeDirectories().front(), b = update.codeDirectories().front();
    EXPECT_EQ(a.identifier, b.identifier);
    EXPECT_NE(Bytes(first.bytes.begin(), first.bytes.begin() + first.dataoff),
              Bytes(update.bytes.begin(), update.bytes.begin() + update.dataoff));
  }
}

}  // namespace
}  // namespace signer_test
