// Structural checks on synthetic, ad-hoc signed Mach-O files: each case
// starts from a valid file, breaks one thing, and names the status the
// framework gives for that defect.

#include <gtest/gtest.h>

#include <functional>

#include "SyntheticMachO.h"
#include "platform/codesign/Status.h"
#include "platform/codesign/Validation.h"

using namespace platform::codesign;
using namespace codesign_test;

namespace {

constexpr SecCSFlags kToolFlags = kSecCSCheckAllArchitectures | kSecCSStrictValidate;

bool trustNothing(const SHA256Digest&) { return false; }

OSStatus check(const Bytes& file, SecCSFlags flags = kToolFlags) {
  return checkValidity(MemorySource(file), flags, nullptr, ValidationPolicy{trustNothing, 0, {}});
}

SyntheticOptions richOptions() {
  SyntheticOptions o;
  o.infoPlist = "<plist><dict><key>CFBundleIdentifier</key><string>com.example.synthetic</string></dict></plist>";
  o.entitlements = "<plist><dict/></plist>";
  o.team = "ABCDE12345";
  return o;
}

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
  EXPECT_EQ(check(variant([](auto& o) { o.hashTypes = {1, 2}; })), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.hashTypes = {4}; })), 0);
  EXPECT_EQ(check(variant([](auto& o) { o.codeSize = 0x2001; })), 0);
  EXPECT_EQ(check(buildSignedMachO(SyntheticOptions{})), 0);
  for (const std::uint8_t shift : {0, 1, 13, 16, 20, 63})  // 0: the whole code is one page
    EXPECT_EQ(check(variant([&](auto& o) { o.pageShift = shift, o.codeSize = shift == 1 ? 0x2001 : 0x9001; })), 0)
        << "page shift " << int{shift};
  // Slots 4 and 6 seal raw data, which only a BlobWrapper carries.
  EXPECT_EQ(check(variant([](auto& o) { o.entitlementsSlot = 4; })), errSecCSSignatureInvalid);
  EXPECT_EQ(check(variant([](auto& o) { o.entitlementsSlot = 6; })), errSecCSSignatureInvalid);
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
  EXPECT_EQ(check(file), GetParam().expected);
}

// Little-endian 32-bit write into a thin file's header or commands.
void putLE32(Bytes& f, std::uint64_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) f.at(at + static_cast<std::uint64_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

// Offsets inside the synthetic layout.
constexpr std::uint64_t kText = 32, kSection = kText + 72, kLinkedit = kSection + 80;
std::uint64_t superBlobEntry(const SyntheticLayout& l, int i) { return l.signature + 12 + 8 * static_cast<std::uint64_t>(i); }
std::uint64_t cdField(const SyntheticLayout& l, std::uint64_t offset) { return l.firstDirectory + offset; }
std::uint64_t hashOffset(const Bytes& f, const SyntheticLayout& l) { return l.firstDirectory + getBE32(f, cdField(l, 16)); }

INSTANTIATE_TEST_SUITE_P(
    Container, ThinDefect,
    testing::Values(
        Defect{"Empty", [](Bytes& f, auto&) { f.clear(); }, errSecCSUnsigned},
        Defect{"ShorterThanMagic", [](Bytes& f, auto&) { f.resize(3); }, errSecCSUnsigned},
        Defect{"NotMachO", [](Bytes& f, auto&) { f.assign({'#', '!', '/', 'b', 'i', 'n'}); }, errSecCSUnsigned},
        Defect{"Universal64", [](Bytes& f, auto&) { putBE32(f, 0, 0xcafebabf); }, errSecCSUnsigned},
        Defect{"ObjectFile", [](Bytes& f, auto&) { putLE32(f, 12, 1); }, errSecCSUnsigned},
        Defect{"TruncatedHeader", [](Bytes& f, auto&) { f.resize(20); }, errSecCSBadObjectFormat},
        Defect{"CommandsPastFile", [](Bytes& f, auto&) { putLE32(f, 20, 0xfffffff0); }, errSecCSBadObjectFormat},
        Defect{"CommandsTooSmall", [](Bytes& f, auto&) { putLE32(f, 20, 4); }, errSecCSBadObjectFormat},
        Defect{"CountDisagrees", [](Bytes& f, auto&) { putLE32(f, 16, 4); }, errSecCSBadObjectFormat},
        Defect{"TooManyCommands", [](Bytes& f, auto&) { putLE32(f, 16, 0x7fffffff); }, errSecCSBadObjectFormat},
        Defect{"ZeroCmdsize", [](Bytes& f, auto&) { putLE32(f, kLinkedit + 4, 0); }, errSecCSBadObjectFormat},
        Defect{"CmdsizePastArea", [](Bytes& f, auto& l) { putLE32(f, l.codeSignatureCommand + 4, 0x100); },
               errSecCSBadObjectFormat},
        Defect{"UnalignedCmdsize", [](Bytes& f, auto&) { putLE32(f, kLinkedit + 4, 70); }, errSecCSBadObjectFormat},
        Defect{"SectionsOverflowCommand", [](Bytes& f, auto&) { putLE32(f, kText + 64, 0x40000000); },
               errSecCSBadObjectFormat},
        Defect{"InfoPlistPastSlice", [](Bytes& f, auto&) { putLE32(f, kSection + 48, 0x7ffffff0); },
               errSecCSBadObjectFormat},
        Defect{"SecondSignatureCommand",
               [](Bytes& f, auto& l) {  // the __LINKEDIT command turned into a second LC_CODE_SIGNATURE
                 putLE32(f, kLinkedit, 0x1d);
                 (void)l;
               },
               errSecCSBadObjectFormat},
        Defect{"NoSignatureCommand", [](Bytes& f, auto& l) { putLE32(f, l.codeSignatureCommand, 0x26); },
               errSecCSUnsigned}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    SuperBlob, ThinDefect,
    testing::Values(
        Defect{"SignaturePastSlice", [](Bytes& f, auto& l) { putLE32(f, l.codeSignatureCommand + 8, 0x7ffffff0); },
               errSecCSSignatureInvalid},
        Defect{"WrongMagic", [](Bytes& f, auto& l) { putBE32(f, l.signature, 0xfade0cc1); }, errSecCSSignatureInvalid},
        Defect{"LengthPastArea", [](Bytes& f, auto& l) { putBE32(f, l.signature + 4, 0x10000); },
               errSecCSSignatureInvalid},
        Defect{"LengthBelowIndex", [](Bytes& f, auto& l) { putBE32(f, l.signature + 4, 16); }, errSecCSSignatureInvalid},
        Defect{"HugeCount", [](Bytes& f, auto& l) { putBE32(f, l.signature + 8, 0x20000000); },
               errSecCSSignatureInvalid},
        Defect{"EntryInsideIndex", [](Bytes& f, auto& l) { putBE32(f, superBlobEntry(l, 1) + 4, 12); },
               errSecCSSignatureInvalid},
        Defect{"EntryPastEnd", [](Bytes& f, auto& l) { putBE32(f, superBlobEntry(l, 1) + 4, 0xfffffff8); },
               errSecCSSignatureInvalid},
        Defect{"BlobLengthPastEnd", [](Bytes& f, auto& l) { putBE32(f, l.firstDirectory + 4, 0x7fffffff); },
               errSecCSSignatureInvalid},
        Defect{"DuplicateSlot", [](Bytes& f, auto& l) { putBE32(f, superBlobEntry(l, 2), 2); },
               errSecCSSignatureInvalid},
        Defect{"NoDirectory", [](Bytes& f, auto& l) { putBE32(f, superBlobEntry(l, 0), 0x20); }, errSecCSUnsigned}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    CodeDirectory, ThinDefect,
    testing::Values(
        Defect{"WrongMagic", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 0), 0xfade0c03); }, errSecCSSignatureFailed},
        Defect{"VersionTooOld", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 8), 0x20000); },
               errSecCSSignatureUnsupported},
        Defect{"VersionTooNew", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 8), 0x30000); },
               errSecCSSignatureUnsupported},
        Defect{"ScatterVector", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 44), 88); }, errSecCSSignatureUnsupported},
        Defect{"IdentifierPastBlob", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 20), 0x7fffffff); },
               errSecCSSignatureFailed},
        Defect{"TeamPastBlob", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 48), 0xffffff00); },
               errSecCSSignatureFailed},
        Defect{"HashOffsetUnderflow", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 16), 4); }, errSecCSSignatureFailed},
        Defect{"HashArrayPastBlob", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 16), 0xfffffff0); },
               errSecCSSignatureFailed},
        Defect{"TooManySpecialSlots", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 24), 0x10000000); },
               errSecCSSignatureFailed},
        Defect{"SlotCountDisagrees", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 28), 5); }, errSecCSSignatureFailed},
        Defect{"HugeSlotCount", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 28), 0xffffffff); },
               errSecCSSignatureFailed},
        Defect{"ZeroCodeLimit", [](Bytes& f, auto& l) { putBE32(f, cdField(l, 32), 0); }, errSecCSSignatureFailed},
        Defect{"HashSizeDisagrees", [](Bytes& f, auto& l) { f[cdField(l, 36)] = 20; }, errSecCSSignatureFailed},
        Defect{"UnknownHashType", [](Bytes& f, auto& l) { f[cdField(l, 37)] = 9; }, errSecCSUnsupportedDigestAlgorithm},
        Defect{"PageShiftPastWord", [](Bytes& f, auto& l) { f[cdField(l, 39)] = 64; }, errSecCSSignatureFailed},
        Defect{"WholeFilePage", [](Bytes& f, auto& l) { f[cdField(l, 39)] = 0; }, errSecCSSignatureFailed}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Hashes, ThinDefect,
    testing::Values(
        Defect{"FirstPage", [](Bytes& f, auto& l) { f[l.commandsEnd + 8] ^= 1; }, errSecCSSignatureFailed},
        Defect{"LastPage", [](Bytes& f, auto& l) { f[l.signature - 1] ^= 1; }, errSecCSSignatureFailed},
        Defect{"LoadCommand", [](Bytes& f, auto&) { f[kText + 60] ^= 1; }, errSecCSSignatureFailed},
        Defect{"StoredPageHash", [](Bytes& f, auto& l) { f[hashOffset(f, l) + 3] ^= 1; }, errSecCSSignatureFailed},
        Defect{"InfoPlist", [](Bytes& f, auto& l) { f[l.infoPlist + 10] ^= 1; }, errSecCSInfoPlistFailed},
        Defect{"InfoPlistSectionGone", [](Bytes& f, auto&) { f[kSection + 2] = 'X'; }, errSecCSInfoPlistFailed},
        Defect{"InfoPlistSlotHash", [](Bytes& f, auto& l) { f[hashOffset(f, l) - 32] ^= 1; }, errSecCSInfoPlistFailed},
        Defect{"RequirementsSlotHash", [](Bytes& f, auto& l) { f[hashOffset(f, l) - 64] ^= 1; },
               errSecCSSignatureFailed},
        Defect{"EntitlementsSlotHash", [](Bytes& f, auto& l) { f[hashOffset(f, l) - 160] ^= 1; },
               errSecCSSignatureFailed},
        Defect{"SealedSlotWithoutComponent", [](Bytes& f, auto& l) { f[hashOffset(f, l) - 128] = 1; },
               errSecCSSignatureFailed},
        Defect{"ResourceSeal", [](Bytes& f, auto& l) { f[hashOffset(f, l) - 96] = 1; },
               errSecCSResourceDirectoryFailed}),
    [](const auto& info) { return std::string(info.param.name); });

// Defects on which this engine once answered otherwise than Apple's
// verifier; each edit is made before signing, so only the defect counts.
TEST(SyntheticValid, AnswersAsAppleOnSignedOddities) {
  struct Case {
    const char* name;
    std::function<void(Bytes&, const SyntheticLayout&)> edit;
    SecCSFlags flags;
    OSStatus expected;
  };
  const auto signatureCommandOf24 = [](Bytes& f, const SyntheticLayout& l) {
    putLE32(f, l.codeSignatureCommand + 4, 24), putLE32(f, 20, static_cast<std::uint32_t>(l.commandsEnd + 8 - 32));
  };
  const auto linkeditPastSlice = [](Bytes& f, auto&) { putLE32(f, kLinkedit + 52, 1); };
  const Case cases[] = {
      {"SignatureCommandOf24Bytes", signatureCommandOf24, kToolFlags, 0},
      {"TextPastSlice", [](Bytes& f, auto&) { putLE32(f, kText + 52, 1); }, kToolFlags, 0},
      {"LinkeditPastSlice", linkeditPastSlice, kToolFlags, errSecCSBadMainExecutable},
      {"LinkeditPastSliceNotStrict", linkeditPastSlice, kSecCSCheckAllArchitectures, 0},
  };
  for (const Case& c : cases) {
    SyntheticOptions o = richOptions();
    o.beforeHashing = c.edit;
    EXPECT_EQ(check(buildSignedMachO(o), c.flags), c.expected) << c.name;
  }
}

TEST(SyntheticStrict, TrailingBytesFailOnlyUnderStrictValidation) {
  Bytes file = buildSignedMachO(richOptions());
  file.push_back(0);
  EXPECT_EQ(check(file), errSecCSBadMainExecutable);
  EXPECT_EQ(check(file, kSecCSCheckAllArchitectures), 0);
}

// Universal files: each case builds two slices, may break one, and checks
// the container's answer.
struct UniversalCase {
  const char* name;
  std::function<void(Bytes& x86, Bytes& arm)> slices;
  std::function<void(Bytes&)> container;
  SecCSFlags flags;
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
  EXPECT_EQ(check(file, c.flags), c.expected);
}

void flipCode(Bytes& slice) { slice[0x3000] ^= 1; }
std::uint32_t sliceOffset(const Bytes& f, int i) { return getBE32(f, 8 + 20 * static_cast<std::uint64_t>(i) + 8); }

#if defined(__aarch64__)
constexpr bool kArmIsMain = true;
#else
constexpr bool kArmIsMain = false;
#endif

INSTANTIATE_TEST_SUITE_P(
    Files, Universal,
    testing::Values(
        UniversalCase{"Valid", nullptr, nullptr, kToolFlags, 0},
        UniversalCase{"OtherSliceModified", [](Bytes& x, Bytes& a) { flipCode(kArmIsMain ? x : a); }, nullptr,
                      kToolFlags, errSecCSSignatureFailed},
        UniversalCase{"OtherSliceIgnoredWithoutAllArchitectures",
                      [](Bytes& x, Bytes& a) { flipCode(kArmIsMain ? x : a); }, nullptr, kSecCSStrictValidate, 0},
        UniversalCase{"TeamsDiffer",
                      [](Bytes& x, Bytes&) {
                        SyntheticOptions o = richOptions();
                        o.cputype = kX86, o.team = "ZZZZZ99999";
                        x = buildSignedMachO(o);
                      },
                      nullptr, kToolFlags, errSecCSSignatureInvalid},
        UniversalCase{"PaddingNotZero", nullptr, [](Bytes& f) { f[sliceOffset(f, 1) - 1] = 1; }, kToolFlags,
                      errSecCSBadMainExecutable},
        UniversalCase{"TrailingBytes", nullptr, [](Bytes& f) { f.push_back(0); }, kToolFlags,
                      errSecCSBadMainExecutable},
        UniversalCase{"TooManySlices", nullptr, [](Bytes& f) { putBE32(f, 4, 101); }, kToolFlags,
                      errSecCSBadObjectFormat},
        UniversalCase{"NoSlices", nullptr, [](Bytes& f) { putBE32(f, 4, 0); }, kToolFlags, errSecCSBadObjectFormat},
        UniversalCase{"SliceShared", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 8, sliceOffset(f, 0)); }, kToolFlags,
                      errSecCSInternalError},
        UniversalCase{"SliceOverlaps", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 8, sliceOffset(f, 1) - 0x10); },
                      kToolFlags, errSecCSBadObjectFormat},
        UniversalCase{"SlicePastFile", nullptr, [](Bytes& f) { putBE32(f, 8 + 20 + 12, 0x7fffffff); }, kToolFlags,
                      errSecCSBadObjectFormat},
        UniversalCase{"SliceOverHeader", nullptr, [](Bytes& f) { putBE32(f, 8 + 8, 0); }, kToolFlags,
                      errSecCSBadObjectFormat},
        UniversalCase{"CpuTypeDisagrees", nullptr, [](Bytes& f) { putBE32(f, 8, kArm); }, kToolFlags,
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
                      kToolFlags, errSecCSSignatureFailed}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
