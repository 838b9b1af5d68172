// Structural checks on synthetic, ad-hoc signed Mach-O files: each case
// starts from a valid file, breaks one thing, and names the status the
// framework gives for that defect.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include "SyntheticMachO.h"
#include "TestFiles.h"
#include "common/TestSupport.h"
#include "codesign/InfoPlist.h"
#include "codesign/Requirement.h"
#include "codesign/Status.h"
#include "codesign/Validation.h"

using namespace codesign;
using namespace codesign_test;

namespace {

constexpr SecCSFlags kToolFlags = kSecCSCheckAllArchitectures | kSecCSStrictValidate;

bool trustNothing(const SHA256Digest&) { return false; }

// Every check also asks why it failed: a failure must say why, a success
// must leave nothing said.
OSStatus check(const Bytes& file, FailureDetail* out = nullptr) {
  FailureDetail detail{"stale", "stale", "stale"};
  const OSStatus status = checkValidity(MemorySource(file), kToolFlags, nullptr,
                                        ValidationPolicy{trustNothing, 0, {}, &detail});
  EXPECT_EQ(detail.reason.empty(), status == errSecSuccess) << detail.reason;
  if (out != nullptr) *out = detail;
  return status;
}

// What a failure says, for the defects whose reason names something: the
// slot, the page, the command, the rule. Matched as a part of the reason.
const std::map<std::string, std::string> kReasons = {
    {"NotMachO", "not a Mach-O file"},
    {"ObjectFile", "Mach-O file type 1 carries no code signature"},
    {"CountDisagrees", "the header declares 4 load commands but holds "},
    {"SecondSignatureCommand", "(cmd 0x1d) is malformed"},
    {"NoSignatureCommand", "no LC_CODE_SIGNATURE"},
    {"SignaturePastSlice", "LC_CODE_SIGNATURE names bytes outside the slice"},
    {"DuplicateSlot", "SuperBlob is malformed"},
    {"UnknownHashType", "no CodeDirectory has a hash type the engine knows"},
    {"FirstPage", "page 0 at offset 0x0 does not match its hash"},
    {"InfoPlist", "special slot 1 (Info.plist) does not match its hash"},
    {"RequirementsSlotHash", "special slot 2 (requirements) does not match its hash"},
    {"EntitlementsSlotHash", "special slot 5 (entitlements) does not match its hash"},
    {"ResourceSeal", "special slot 3 (resource directory) does not match its hash"},
    {"TrailingByte", "the signature ends at "},
    {"TeamsDiffer", "its team identifier is not the "},
    {"PaddingNotZero", "the padding between slices is not all zero"},
    {"TrailingBytes", "or has bytes after the last slice"},
    {"CpuTypeDisagrees", "arm64 slice: its own header names another architecture"},
    {"SliceShared", "two universal records name the same offset"},
    {"SlicePastFile", "the universal header places it outside the file"},
};

void expectReason(const std::string& name, const FailureDetail& detail) {
  if (const auto found = kReasons.find(name); found != kReasons.end()) {
    EXPECT_THAT(detail.reason, testing::HasSubstr(found->second));
  }
}

SyntheticOptions richOptions() {
  SyntheticOptions o;
  o.infoPlist = "<plist><dict><key>CFBundleIdentifier</key><string>com.example.synthetic</string></dict></plist>";
  o.entitlements = "<plist><dict/></plist>";
  o.team = "ABCDE12345";
  return o;
}

// No row can tell which OpenSSL digest code hashed SHA-256 pages.
// Nor a present special slot with no component once the slots have
// verified, nor an alternate directory at the end of their range: neither
// can reach the checks that name them. Nor which of SHA-256 and its
// truncation is best (their pages agree), a code limit at or past the
// slice's end (its pages would hold the directory that hashes them), a zero
// code limit with pages (refused either way), or a hash array from byte 8
// (its hashes are the header, which fails as the bound does).
TEST(SyntheticValid, VariantsVerify) {
  const auto variant = [](auto change) {
    SyntheticOptions o = richOptions();
    change(o);
    return buildSignedMachO(o);
  };
  EXPECT_EQ(check(variant([](auto&) {})), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.bigEndian = true; })), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.cputype = 0x01000007; })), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.pageShift = 14, o.codeSize = 0x9001; })), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.hashTypes = {1, 2}, o.topDirectory = true; })), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.entitlementsSlot = 11, o.topDirectory = true; })), 0);  // the last special slot
  for (const std::uint32_t slots : {64u, 65u})  // the most special slots, and one more
    EXPECT_EQ(check(variant([&](auto& o) { o.entitlementsSlot = slots; })), slots > 64 ? errSecCSSignatureFailed : 0);
  EXPECT_EQ(check(variant([](auto& o) { o.hashTypes = {4}; })), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.codeSize = 0x2001; })), 0);
  EXPECT_EQ(check(buildSignedMachO(SyntheticOptions{})), 0);
  for (const std::uint8_t shift : {0, 1, 13, 16, 20, 63})  // 0: the whole code is one page
    EXPECT_EQ(check(variant([&](auto& o) { o.pageShift = shift, o.codeSize = shift == 1 ? 0x2001 : 0x9001; })), 0)
        << "page shift " << int{shift};
  // An Info.plist up to 1 MiB is read and checked; a larger one is not, and fails as a missing one.
  for (const std::uint64_t size : {std::uint64_t{1} << 20, (std::uint64_t{1} << 20) + 1})
    EXPECT_EQ(check(variant([&](auto& o) { o.infoPlist->resize(size, ' '), o.codeSize = 0x1000 + size + 0x1000; })),
              size > (1u << 20) ? errSecCSInfoPlistFailed : 0) << size;
  // A directory that stops short of the signature has its own pages checked,
  // then fails the strict rules.
  EXPECT_EQ(check(variant([](auto& o) { o.hashTypes = {2, 1}, o.alternateCodeLimit = 0x3000; })),
            errSecCSSignatureInvalid);
  // Slots 4 and 6 seal raw data, which only a BlobWrapper carries.
  EXPECT_EQ(check(variant([](auto& o) { o.entitlementsSlot = 4; })), errSecCSSignatureInvalid);
  EXPECT_EQ(check(variant([](auto& o) { o.entitlementsSlot = 6; })), errSecCSSignatureInvalid);
}

// A requirement sees slot 5's list only in an entitlements blob, and slot
// 7's only in a DER entitlements blob.
TEST(SyntheticValid, EntitlementsComeOnlyFromAnEntitlementsBlob) {
  RequirementRef requirement;
  ASSERT_EQ(Requirement::compile("entitlement[\"a\"] exists", &requirement), 0);
  const std::string xml = "<plist><dict><key>a</key><true/></dict></plist>";
  const std::string der("\x70\x0d\x02\x01\x01\xb0\x08\x30\x06\x0c\x01\x61\x01\x01\xff", 15);  // {a: true}
  const std::tuple<std::uint32_t, std::uint32_t, std::string, bool> cases[] = {
      {5, 0xfade7171, xml, true}, {5, 0xfade7172, xml, false}, {7, 0xfade7172, der, true}, {7, 0xfade7171, der, false}};
  for (const auto& [slot, magic, list, seen] : cases) {
    SyntheticOptions o = richOptions();
    o.entitlements = list, o.entitlementsSlot = slot, o.entitlementsMagic = magic;
    EXPECT_EQ(checkValidity(MemorySource(buildSignedMachO(o)), kToolFlags, requirement.get(),
                            ValidationPolicy{trustNothing, 0, {}}),
              seen ? errSecSuccess : errSecCSReqFailed) << slot << " " << std::hex << magic;
  }
}

// The version the installer compares: CFBundleVersion, when it is a string.
TEST(InfoPlist, BundleVersionIsAStringOrNothing) {
  const auto list = [](const std::string& body) { return "<plist><dict>" + body + "</dict></plist>"; };
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {list("<key>CFBundleVersion</key><string>12.1</string>") + '\0', "12.1"},  // as compiled in
      {list("<key>CFBundleVersion</key><integer>12</integer>"), std::nullopt},
      {list("<key>CFBundleName</key><string>12.1</string>"), std::nullopt},
      {"<plist><dict><key>CFBundleVersion</key><string>12.1</string>", std::nullopt},
  };
  for (const auto& [plist, version] : cases) EXPECT_EQ(bundleVersionOf(plist), version) << plist;
}

// Every architecture states its own version, in file order; a list too large
// to hand out states none.
TEST(InfoPlist, EachArchitectureStatesItsOwnVersion) {
  // An arm64 or x86_64 slice; its list padded with blanks to `size` bytes,
  // when a size is asked for.
  constexpr std::int32_t x86 = 0x01000007, arm = 0x0100000c;
  const auto slice = [](std::optional<std::string> version, std::int32_t cputype, std::uint64_t size = 0) {
    SyntheticOptions o = richOptions();
    o.cputype = cputype;
    o.infoPlist = version ? "<plist><dict><key>CFBundleVersion</key><string>" + *version + "</string></dict></plist>"
                          : std::optional<std::string>();
    if (o.infoPlist && size) o.infoPlist->resize(size, ' '), o.codeSize = 0x2000 + size;
    return buildSignedMachO(o);
  };
  using Versions = std::vector<std::optional<std::string>>;
  const std::uint64_t mebibyte = std::uint64_t{1} << 20;
  const std::pair<Bytes, Versions> cases[] = {
      {slice("2", arm), {"2"}},
      {buildUniversal({slice("2", x86), slice("1", arm)}, {x86, arm}), {"2", "1"}},
      {buildUniversal({slice("1.0", x86), slice(std::nullopt, arm)}, {x86, arm}), {"1.0", std::nullopt}},
      {slice("3", arm, mebibyte), {"3"}},
      {slice("3", arm, mebibyte + 1), {std::nullopt}},
  };
  const testing_support::TemporaryDirectory dir;
  for (const auto& [file, expected] : cases) {
    writeFile(dir / "code", file);
    StaticCodeRef code;
    ASSERT_EQ(SecStaticCodeCreateWithPath(platform::FileURL{dir / "code"}, 0, &code), 0);
    Versions versions{"left over"};
    EXPECT_EQ(copyBundleVersions(code.get(), &versions), 0);
    EXPECT_EQ(versions, expected);
  }
  writeFile(dir / "code", Bytes(4096, 0));
  StaticCodeRef code;
  ASSERT_EQ(SecStaticCodeCreateWithPath(platform::FileURL{dir / "code"}, 0, &code), 0);
  Versions versions;
  EXPECT_NE(copyBundleVersions(code.get(), &versions), 0);
}

// One defect and its status.
struct Defect {
  const char* name;
  std::function<void(Bytes&, const SyntheticLayout&)> apply;
  OSStatus expected;
};

class ThinDefect : public testing::TestWithParam<Defect> {};

TEST_P(ThinDefect, IsRefused) {
  SyntheticLayout layout;
  Bytes file = buildSignedMachO(richOptions(), &layout);
  GetParam().apply(file, layout);
  FailureDetail detail;
  EXPECT_EQ(check(file, &detail), GetParam().expected);
  expectReason(GetParam().name, detail);
}

// Little-endian 32-bit write into a thin file's header or commands.
void putLE32(Bytes& f, std::uint64_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) f.at(at + static_cast<std::uint64_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

// Offsets inside the synthetic layout.
constexpr std::uint64_t kText = 32, kSection = kText + 72, kLinkedit = kSection + 80;
constexpr std::uint64_t kEntry1 = 12 + 8;  // the SuperBlob's second index entry
std::uint64_t cdField(const SyntheticLayout& l, std::uint64_t offset) { return l.firstDirectory + offset; }
std::uint64_t hashOffset(const Bytes& f, const SyntheticLayout& l) { return l.firstDirectory + getBE32(f, cdField(l, 16)); }

// Edits of one word: little-endian in the header and commands, big-endian
// from the SuperBlob or the slot-0 CodeDirectory on; or of one byte there.
using Edit = std::function<void(Bytes&, const SyntheticLayout&)>;
Edit commandWord(std::uint64_t at, std::uint32_t v) { return [=](Bytes& f, auto&) { putLE32(f, at, v); }; }
Edit signatureWord(std::uint64_t at, std::uint32_t v) { return [=](Bytes& f, auto& l) { putBE32(f, l.signature + at, v); }; }
Edit directoryWord(std::uint64_t at, std::uint32_t v) { return [=](Bytes& f, auto& l) { putBE32(f, cdField(l, at), v); }; }
Edit directoryByte(std::uint64_t at, std::uint8_t v) { return [=](Bytes& f, auto& l) { f[cdField(l, at)] = v; }; }
// Flips a bit of the stored hashes; negative: the special slots.
Edit hashByte(std::int64_t at) {
  return [=](Bytes& f, auto& l) { f[static_cast<std::uint64_t>(static_cast<std::int64_t>(hashOffset(f, l)) + at)] ^= 1; };
}

INSTANTIATE_TEST_SUITE_P(
    Container, ThinDefect,
    testing::Values(
        Defect{"Empty", [](Bytes& f, auto&) { f.clear(); }, errSecCSUnsigned},
        Defect{"ShorterThanMagic", [](Bytes& f, auto&) { f.resize(3); }, errSecCSUnsigned},
        Defect{"NotMachO", [](Bytes& f, auto&) { f.assign({'#', '!', '/', 'b', 'i', 'n'}); }, errSecCSUnsigned},
        Defect{"Read32BitLittleEndian", commandWord(0, 0xfeedface), errSecCSBadObjectFormat},
        Defect{"Read32BitBigEndian", commandWord(0, 0xcefaedfe), errSecCSBadObjectFormat},
        Defect{"Universal64", [](Bytes& f, auto&) { putBE32(f, 0, 0xcafebabf); }, errSecCSUnsigned},
        Defect{"ObjectFile", commandWord(12, 1), errSecCSUnsigned},
        Defect{"TrailingByte", [](Bytes& f, auto&) { f.push_back(0); }, errSecCSBadMainExecutable},
        Defect{"TruncatedHeader", [](Bytes& f, auto&) { f.resize(20); }, errSecCSBadObjectFormat},
        Defect{"CommandsPastFile", commandWord(20, 0xfffffff0), errSecCSBadObjectFormat},
        Defect{"CommandsTooSmall", commandWord(20, 4), errSecCSBadObjectFormat},
        Defect{"CountDisagrees", commandWord(16, 4), errSecCSBadObjectFormat},
        Defect{"TooManyCommands", commandWord(16, 0x7fffffff), errSecCSBadObjectFormat},
        Defect{"ZeroCmdsize", commandWord(kLinkedit + 4, 0), errSecCSBadObjectFormat},
        Defect{"CmdsizePastArea", [](Bytes& f, auto& l) { putLE32(f, l.codeSignatureCommand + 4, 0x100); },
               errSecCSBadObjectFormat},
        Defect{"UnalignedCmdsize", commandWord(kLinkedit + 4, 70), errSecCSBadObjectFormat},
        Defect{"SectionsOverflowCommand", commandWord(kText + 64, 0x40000000), errSecCSBadObjectFormat},
        Defect{"InfoPlistPastSlice", commandWord(kSection + 48, 0x7ffffff0), errSecCSBadObjectFormat},
        Defect{"SecondSignatureCommand", commandWord(kLinkedit, 0x1d), errSecCSBadObjectFormat},  // from __LINKEDIT
        Defect{"NoSignatureCommand", [](Bytes& f, auto& l) { putLE32(f, l.codeSignatureCommand, 0x26); },
               errSecCSUnsigned},
        Defect{"OneCommandOfEightBytes",
               [](Bytes& f, auto&) { f.resize(40), putLE32(f, 16, 1), putLE32(f, 20, 8), putLE32(f, 32, 0x7fff), putLE32(f, 36, 8); },
               errSecCSUnsigned}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    SuperBlob, ThinDefect,
    testing::Values(
        Defect{"SignaturePastSlice", [](Bytes& f, auto& l) { putLE32(f, l.codeSignatureCommand + 8, 0x7ffffff0); },
               errSecCSSignatureInvalid},
        Defect{"WrongMagic", signatureWord(0, 0xfade0cc1), errSecCSSignatureInvalid},
        Defect{"LengthPastArea", signatureWord(4, 0x10000), errSecCSSignatureInvalid},
        Defect{"LengthBelowIndex", signatureWord(4, 16), errSecCSSignatureInvalid},
        Defect{"HugeCount", signatureWord(8, 0x20000000), errSecCSSignatureInvalid},
        Defect{"EntryInsideIndex", signatureWord(kEntry1 + 4, 12), errSecCSSignatureInvalid},
        Defect{"EntryPastEnd", signatureWord(kEntry1 + 4, 0xfffffff8), errSecCSSignatureInvalid},
        Defect{"BlobLengthPastEnd", directoryWord(4, 0x7fffffff), errSecCSSignatureInvalid},
        Defect{"DuplicateSlot", signatureWord(kEntry1 + 8, 2), errSecCSSignatureInvalid},
        Defect{"NoDirectory", signatureWord(kEntry1 - 8, 0x20), errSecCSUnsigned},
        Defect{"NoEntries", [](Bytes& f, auto& l) { putBE32(f, l.signature + 4, 12), putBE32(f, l.signature + 8, 0); },
               errSecCSUnsigned}),
    [](const auto& info) { return std::string(info.param.name); });

// From version 0x20500 on, a directory's pre-encryption offset is read: the
// builder writes 0x20400, so at a later version the identifier's bytes are
// read as that offset, which lies outside the blob.
INSTANTIATE_TEST_SUITE_P(
    CodeDirectory, ThinDefect,
    testing::Values(
        Defect{"WrongMagic", directoryWord(0, 0xfade0c03), errSecCSSignatureFailed},
        Defect{"VersionTooOld", directoryWord(8, 0x20000), errSecCSSignatureUnsupported},
        Defect{"EarliestVersion", directoryWord(8, 0x20001), 0},
        Defect{"VersionTooNew", directoryWord(8, 0x30000), errSecCSSignatureUnsupported},
        Defect{"PreEncryptionVersion", directoryWord(8, 0x20500), errSecCSSignatureFailed},
        Defect{"LatestVersion", directoryWord(8, 0x2F000), errSecCSSignatureFailed},
        Defect{"ScatterVector", directoryWord(44, 88), errSecCSSignatureUnsupported},
        Defect{"ScatterVectorAtItsVersion", [](Bytes& f, auto& l) { directoryWord(8, 0x20100)(f, l), directoryWord(44, 88)(f, l); },
               errSecCSSignatureUnsupported},
        Defect{"CodeLimit64AtItsVersion", [](Bytes& f, auto& l) { directoryWord(8, 0x20300)(f, l), directoryWord(60, 0x5000)(f, l); },
               errSecCSSignatureFailed},
        Defect{"IdentifierPastBlob", directoryWord(20, 0x7fffffff), errSecCSSignatureFailed},
        Defect{"TeamPastBlob", directoryWord(48, 0xffffff00), errSecCSSignatureFailed},
        Defect{"HashOffsetUnderflow", directoryWord(16, 4), errSecCSSignatureFailed},
        Defect{"HashArrayPastBlob", directoryWord(16, 0xfffffff0), errSecCSSignatureFailed},
        Defect{"TooManySpecialSlots", directoryWord(24, 0x10000000), errSecCSSignatureFailed},
        Defect{"SlotCountDisagrees", directoryWord(28, 5), errSecCSSignatureFailed},
        Defect{"HugeSlotCount", directoryWord(28, 0xffffffff), errSecCSSignatureFailed},
        Defect{"ZeroCodeLimit", directoryWord(32, 0), errSecCSSignatureFailed},
        Defect{"HashSizeDisagrees", directoryByte(36, 20), errSecCSSignatureFailed},
        Defect{"UnknownHashType", directoryByte(37, 9), errSecCSUnsupportedDigestAlgorithm},
        Defect{"PageShiftPastWord", directoryByte(39, 64), errSecCSSignatureFailed},
        Defect{"WholeFilePage", directoryByte(39, 0), errSecCSSignatureFailed}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Hashes, ThinDefect,
    testing::Values(
        Defect{"FirstPage", [](Bytes& f, auto& l) { f[l.commandsEnd + 8] ^= 1; }, errSecCSSignatureFailed},
        Defect{"LastPage", [](Bytes& f, auto& l) { f[l.signature - 1] ^= 1; }, errSecCSSignatureFailed},
        Defect{"LoadCommand", [](Bytes& f, auto&) { f[kText + 60] ^= 1; }, errSecCSSignatureFailed},
        Defect{"StoredPageHash", hashByte(3), errSecCSSignatureFailed},
        Defect{"InfoPlist", [](Bytes& f, auto& l) { f[l.infoPlist + 10] ^= 1; }, errSecCSInfoPlistFailed},
        Defect{"InfoPlistSectionGone", [](Bytes& f, auto&) { f[kSection + 2] = 'X'; }, errSecCSInfoPlistFailed},
        Defect{"InfoPlistSlotHash", hashByte(-32), errSecCSInfoPlistFailed},
        Defect{"RequirementsSlotHash", hashByte(-64), errSecCSSignatureFailed},
        Defect{"EntitlementsSlotHash", hashByte(-160), errSecCSSignatureFailed},
        Defect{"SealedSlotWithoutComponent", hashByte(-128), errSecCSSignatureFailed},
        Defect{"ResourceSeal", hashByte(-96), errSecCSResourceDirectoryFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// Defects on which this engine once answered otherwise than Apple's
// verifier; each edit is made before signing, so only the defect counts.
TEST(SyntheticValid, AnswersAsAppleOnSignedOddities) {
  struct Case {
    const char* name;
    std::function<void(Bytes&, const SyntheticLayout&)> edit;
    OSStatus expected;
  };
  const auto signatureCommandOf24 = [](Bytes& f, const SyntheticLayout& l) {
    putLE32(f, l.codeSignatureCommand + 4, 24), putLE32(f, 20, static_cast<std::uint32_t>(l.commandsEnd + 8 - 32));
  };
  // Appends a load command of the given size, written by `edit` into the
  // zeros after the others.
  const auto appended = [](std::uint32_t size, std::function<void(Bytes&, std::uint64_t)> edit) {
    return [=](Bytes& f, const SyntheticLayout& l) {
      edit(f, l.commandsEnd);
      putLE32(f, l.commandsEnd + 4, size), putLE32(f, 16, 4), putLE32(f, 20, static_cast<std::uint32_t>(l.commandsEnd + size - 32));
    };
  };
  const auto symtabEndingShortBy = [](std::uint32_t gap) {
    return [=](Bytes& f, std::uint64_t at) {
      putLE32(f, at, 2), putLE32(f, at + 16, static_cast<std::uint32_t>(f.size() - 16)), putLE32(f, at + 20, 16 - gap);
      f[kLinkedit + 10] = 'X';  // no longer __LINKEDIT
    };
  };
  const Case cases[] = {
      {"SignatureCommandOf24Bytes", signatureCommandOf24, 0},
      {"SmallestCommand", appended(8, [](Bytes& f, auto at) { putLE32(f, at, 0x7fff); }), 0},
      {"UnalignedCommand", appended(10, [](Bytes& f, auto at) { putLE32(f, at, 0x7fff); }), errSecCSBadObjectFormat},
      // A symbol table before any __LINKEDIT: its strings must end the slice.
      {"SymtabStringsEndTheSlice", appended(24, symtabEndingShortBy(0)), 0},
      {"SymtabStringsShort", appended(24, symtabEndingShortBy(1)), errSecCSBadMainExecutable},
      // Only the first __LINKEDIT must end the slice.
      {"SecondLinkeditShort", appended(72, [](Bytes& f, auto at) { std::copy_n(f.begin() + kLinkedit, 72, f.begin() + at), putLE32(f, at + 48, 16); }), 0},
      {"InfoPlistBeyondSectionCount", commandWord(kText + 64, 0), errSecCSInfoPlistFailed},
      {"EmptyLinkeditAtTheEnd",
       [](Bytes& f, auto&) { putLE32(f, kLinkedit + 40, static_cast<std::uint32_t>(f.size())), putLE32(f, kLinkedit + 48, 0); }, 0},
      {"TextPastSlice", commandWord(kText + 52, 1), 0},
      {"LinkeditPastSlice", commandWord(kLinkedit + 52, 1), errSecCSBadMainExecutable},
  };
  for (const Case& c : cases) {
    SyntheticOptions o = richOptions();
    o.beforeHashing = c.edit;
    EXPECT_EQ(check(buildSignedMachO(o)), c.expected) << c.name;
  }
}

// Universal files: each case builds two slices, may break one, and checks
// the container's answer.
struct UniversalCase {
  const char* name;
  std::function<void(Bytes& x86, Bytes& arm)> slices;
  std::function<void(Bytes&)> container;
  OSStatus expected;
};

class Universal : public testing::TestWithParam<UniversalCase> {};

constexpr std::int32_t kX86 = 0x01000007, kArm = 0x0100000c;

TEST_P(Universal, Answers) {
  const UniversalCase& c = GetParam();
  SyntheticOptions x86 = richOptions(), arm = richOptions();
  x86.cputype = kX86, arm.cputype = kArm;
  Bytes a = buildSignedMachO(x86), b = buildSignedMachO(arm);
  if (c.slices) c.slices(a, b);
  Bytes file = buildUniversal({a, b}, {kX86, kArm});
  if (c.container) c.container(file);
  FailureDetail detail;
  EXPECT_EQ(check(file, &detail), c.expected);
  expectReason(c.name, detail);
}

void flipCode(Bytes& slice) { slice[0x3000] ^= 1; }
std::uint32_t sliceOffset(const Bytes& f, int i) { return getBE32(f, 8 + 20 * static_cast<std::uint64_t>(i) + 8); }

#if defined(__aarch64__)
constexpr bool kArmIsMain = true;
#else
constexpr bool kArmIsMain = false;
#endif

// A gap of no bytes between slices, with nothing to read, has no row.
INSTANTIATE_TEST_SUITE_P(
    Files, Universal,
    testing::Values(
        UniversalCase{"Valid", nullptr, nullptr, 0},
        UniversalCase{"OtherSliceModified", [](Bytes& x, Bytes& a) { flipCode(kArmIsMain ? x : a); }, nullptr,
                      errSecCSSignatureFailed},
        UniversalCase{"TeamsDiffer",
                      [](Bytes& x, Bytes&) {
                        SyntheticOptions o = richOptions();
                        o.cputype = kX86, o.team = "ZZZZZ99999";
                        x = buildSignedMachO(o);
                      },
                      nullptr, errSecCSSignatureInvalid},
        UniversalCase{"GapOfOneAlignment", nullptr,
                      [](Bytes& f) {
                        const std::uint32_t end = sliceOffset(f, 0) + getBE32(f, 8 + 12), grow = 0x4000 - (sliceOffset(f, 1) - end);
                        f.insert(f.begin() + sliceOffset(f, 1), grow, 0), putBE32(f, 36, sliceOffset(f, 1) + grow);
                      },
                      errSecCSBadMainExecutable},
        UniversalCase{"PaddingNotZero", nullptr, [](Bytes& f) { f[sliceOffset(f, 1) - 1] = 1; },
                      errSecCSBadMainExecutable},
        UniversalCase{"MainSliceAnswersFirst",  // its code is modified; the other slice's Info.plist
                      [](Bytes& x, Bytes& a) { flipCode(kArmIsMain ? a : x), (kArmIsMain ? x : a)[0x1000 + 10] ^= 1; },
                      nullptr, errSecCSSignatureFailed},
        UniversalCase{"MainSliceAnswersFirstFromTheSecondRecord",
                      [](Bytes& x, Bytes& a) { flipCode(kArmIsMain ? a : x), (kArmIsMain ? x : a)[0x1000 + 10] ^= 1; },
                      [](Bytes& f) { std::swap_ranges(f.begin() + 8, f.begin() + 28, f.begin() + 28); }, errSecCSSignatureFailed},
        UniversalCase{"SliceCoversTheNext", nullptr,
                      [](Bytes& f) { putBE32(f, 8 + 12, sliceOffset(f, 1) + getBE32(f, 28 + 12) - sliceOffset(f, 0)); },
                      errSecCSBadObjectFormat},
        UniversalCase{"TrailingBytes", nullptr, [](Bytes& f) { f.push_back(0); },
                      errSecCSBadMainExecutable},
        UniversalCase{"TooManySlices", nullptr, [](Bytes& f) { putBE32(f, 4, 101); },
                      errSecCSBadObjectFormat},
        // 100 records are read: the 98 zero ones then share offset 0.
        UniversalCase{"HundredSlices", nullptr, [](Bytes& f) { putBE32(f, 4, 100); }, errSecCSInternalError},
        UniversalCase{"FirstSliceFarFromTable", nullptr,
                      [](Bytes& f) {
                        f.insert(f.begin() + sliceOffset(f, 0), 0x8000, 0);
                        putBE32(f, 16, sliceOffset(f, 0) + 0x8000), putBE32(f, 36, sliceOffset(f, 1) + 0x8000);
                      },
                      0},
        UniversalCase{"AlignmentOf2To30", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 16, 30); }, 0},
        UniversalCase{"AlignmentOf2To31", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 16, 31); },
                      errSecCSBadMainExecutable},
        UniversalCase{"NoSlices", nullptr, [](Bytes& f) { putBE32(f, 4, 0); }, errSecCSBadObjectFormat},
        UniversalCase{"SliceShared", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 8, sliceOffset(f, 0)); },
                      errSecCSInternalError},
        UniversalCase{"SlicesAbut", nullptr,
                      [](Bytes& f) {
                        const std::uint32_t end = sliceOffset(f, 0) + getBE32(f, 8 + 12);
                        f.erase(f.begin() + end, f.begin() + sliceOffset(f, 1)), putBE32(f, 36, end);
                      },
                      0},
        UniversalCase{"SliceOverlaps", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 8, sliceOffset(f, 1) - 0x10); },
                      errSecCSBadObjectFormat},
        UniversalCase{"SlicePastFile", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 12, 0x7fffffff); },
                      errSecCSBadObjectFormat},
        UniversalCase{"SliceOverHeader", nullptr, [](Bytes& f) { putBE32(f, 8 + 8, 0); },
                      errSecCSBadObjectFormat},
        UniversalCase{"CpuTypeDisagrees", nullptr, [](Bytes& f) { putBE32(f, 8, kArm); },
                      errSecCSBadObjectFormat},
        UniversalCase{"HiddenArmSliceModified", nullptr,
                      [](Bytes& f) {
                        // A third record, beyond the declared count, naming a
                        // modified copy of the arm64 slice appended to the file.
                        const std::uint32_t at = sliceOffset(f, 1), size = getBE32(f, 8 + 20 + 12);
                        Bytes copy(f.begin() + at, f.begin() + at + size);
                        flipCode(copy);
                        const std::uint32_t offset = static_cast<std::uint32_t>(f.size() + 0x4000 - f.size() % 0x4000);
                        f.resize(offset, 0);
                        f.insert(f.end(), copy.begin(), copy.end());
                        putBE32(f, 48, kArm), putBE32(f, 56, offset), putBE32(f, 60, size), putBE32(f, 64, 14);
                      },
                      errSecCSSignatureFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// A page of the slice checked second is named by its architecture, its
// directory's hash type, its index and its offset in the whole file.
TEST(UniversalFailure, NamesTheSliceAndThePage) {
  SyntheticOptions x86 = richOptions(), arm = richOptions();
  x86.cputype = kX86, arm.cputype = kArm;
  Bytes a = buildSignedMachO(x86), b = buildSignedMachO(arm);
  flipCode(kArmIsMain ? a : b);
  const Bytes file = buildUniversal({a, b}, {kX86, kArm});
  FailureDetail detail;
  EXPECT_EQ(check(file, &detail), errSecCSSignatureFailed);
  std::ostringstream offset;
  offset << std::hex << sliceOffset(file, kArmIsMain ? 0 : 1) + 0x3000;
  EXPECT_EQ(detail.architecture, kArmIsMain ? "x86_64" : "arm64");
  EXPECT_EQ(detail.hashType, "sha256");
  EXPECT_EQ(detail.reason, "page 3 at offset 0x" + offset.str() + " does not match its hash");
}

}  // namespace
