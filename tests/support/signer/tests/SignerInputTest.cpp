// The signer refuses malformed Mach-O files and bad options with a message
// and writes nothing; it signs already-signed files again.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "SignedImage.h"

namespace signer_test {
namespace {

void storeLE32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  ASSERT_LE(offset + 4, bytes.size());
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void storeBE32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  ASSERT_LE(offset + 4, bytes.size());
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// Offset of the first load command cmd (and, for segments, named segment).
std::size_t commandOffset(const Bytes& bytes, std::uint32_t cmd, const std::string& segment = "") {
  std::size_t offset = 32;
  for (std::uint32_t i = 0; i < le32(bytes, 16); ++i) {
    const bool named = segment.empty() || std::string(reinterpret_cast<const char*>(&bytes[offset + 8])) == segment;
    if (le32(bytes, offset) == cmd && named) return offset;
    offset += le32(bytes, offset + 4);
  }
  throw std::runtime_error("no such load command");
}

constexpr std::uint32_t kSegment64 = 0x19, kCodeSignature = 0x1d, kFunctionStarts = 0x26;

struct InputCase {
  const char* what;
  const char* fixture;
  std::function<void(Bytes&)> damage;
  const char* message;
};

void PrintTo(const InputCase& c, std::ostream* out) { *out << c.what; }

const std::vector<InputCase> kMalformed{
    {"empty file", "unsigned-arm64", [](Bytes& b) { b.clear(); }, "truncated input"},
    {"header cut short", "unsigned-arm64", [](Bytes& b) { b.resize(20); }, "truncated input: sizeofcmds"},
    {"not a Mach-O", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 0, 0x464c457f); }, "not a 64-bit little-endian Mach-O"},
    {"load commands past the end", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 20, 0xfffffff0); },
     "load commands run past the end"},
    {"zero cmdsize", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 36, 0); }, "load command 0 has a bad size"},
    {"cmdsize past sizeofcmds", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 36, 0x7ffffff8); }, "load command 0 has a bad size"},
    {"absurd ncmds", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 16, 0x40000000); }, "too many load commands"},
    {"ncmds beyond sizeofcmds", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 16, le32(b, 16) + 1); }, "bad size"},
    {"section count overflows the segment", "unsigned-arm64",
     [](Bytes& b) { storeLE32(b, commandOffset(b, kSegment64, "__TEXT") + 64, 0x10000000); }, "more sections than its size allows"},
    {"segment outside the file", "unsigned-arm64",
     [](Bytes& b) { storeLE32(b, commandOffset(b, kSegment64, "__LINKEDIT") + 40, 0xfffff000); }, "segment lies outside the file"},
    {"section outside the file", "unsigned-arm64",
     [](Bytes& b) { storeLE32(b, commandOffset(b, kSegment64, "__TEXT") + 72 + 48, 0x7ffffff0); },
     "section's contents lie outside the file"},
    {"trailing bytes after __LINKEDIT", "unsigned-arm64", [](Bytes& b) { b.resize(b.size() + 16, 0); },
     "__LINKEDIT does not end the file"},
    {"no room for LC_CODE_SIGNATURE", "unsigned-x86_64",
     [](Bytes& b) { storeLE32(b, commandOffset(b, kSegment64, "__TEXT") + 72 + 48, 32 + le32(b, 20) + 8); },
     "no room after the load commands"},
    {"signature outside the file", "adhoc-arm64",
     [](Bytes& b) { storeLE32(b, commandOffset(b, kCodeSignature) + 8, 0xffffff00); }, "code signature lies outside the file"},
    {"two LC_CODE_SIGNATURE", "adhoc-arm64", [](Bytes& b) { storeLE32(b, commandOffset(b, kFunctionStarts), kCodeSignature); },
     "more than one LC_CODE_SIGNATURE"},
    {"absurd slice count", "helper-devid-universal", [](Bytes& b) { storeBE32(b, 4, 100000); }, "unusable slice count"},
    {"slice past the end", "helper-devid-universal", [](Bytes& b) { storeBE32(b, 8 + 20 + 12, 0x7fffffff); },
     "slice lies outside the file"},
    {"overlapping slices", "helper-devid-universal", [](Bytes& b) { storeBE32(b, 8 + 20 + 8, be32(b, 8 + 8)); }, "overlap"},
    {"alignment beyond 2^30", "helper-devid-universal", [](Bytes& b) { storeBE32(b, 8 + 16, 31); }, "alignment"},
    {"slice of another architecture", "helper-devid-universal", [](Bytes& b) { storeBE32(b, 8, 0x0100000c); },
     "holds another architecture"},
};

class MalformedInput : public testing::TestWithParam<InputCase> {};

std::vector<std::string> devIDSign(const std::string& in, const std::string& out) {
  return {HELPER_TEST_SIGNER, "sign", in, out, "--identifier", "com.quennard.brenlow-helper",
          "--cert", caPath("devid-app.pem"), "--key", caPath("devid-app.key"), "--chain", caPath("devid-ca.pem"),
          "--chain", caPath("root.pem"), "--team", "Q7MK2RX5VN"};
}

TEST_P(MalformedInput, IsRefusedWithAMessageAndNoOutput) {
  TemporaryDirectory directory;
  Bytes bytes = readBytes(fixturePath(GetParam().fixture));
  GetParam().damage(bytes);
  writeBytes(directory.file("in"), bytes);
  const CommandResult result = runCommand(devIDSign(directory.file("in"), directory.file("out")));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
  EXPECT_FALSE(std::filesystem::exists(directory.file("out")));
}

INSTANTIATE_TEST_SUITE_P(Signer, MalformedInput, testing::ValuesIn(kMalformed), [](const auto& info) {
  std::string name = info.param.what;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

TEST(SignerOptions, BadOptionsAreRefusedByName) {
  const std::string in = fixturePath("unsigned-arm64");
  TemporaryDirectory directory;
  const std::string out = directory.file("out");
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases{
      {{"sign", in, out, "--cert", caPath("devid-app.pem"), "--key", caPath("devid-app.key")}, "--identifier is required"},
      {{"sign", in, out, "--identifier", "x"}, "--cert and --key are required unless --adhoc"},
      {{"sign", in, out, "--identifier", "x", "--cert", caPath("devid-app.pem")}, "--cert and --key go together"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--hashes", "md5"}, "unknown hash md5"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--page-size", "12288"}, "--page-size must be 0 or a power of two"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--flags", "-1"}, "--flags takes a number"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--bogus"}, "unknown option --bogus"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--only-arch", "x86_64"}, "names an architecture the file does not have"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--timestamp-time", "20200101000000Z"}, "need --timestamp-with"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--signing-time", "yesterday"}, "not a time"},
      {{"sign", in, out, "--identifier", "x", "--adhoc", "--code-limit-short", "99999999"}, "--code-limit-short exceeds"},
      {{"sign", in, "--identifier", "x", "--adhoc"}, "sign takes IN and OUT"},
  };
  for (const auto& [arguments, message] : cases) {
    std::vector<std::string> command{HELPER_TEST_SIGNER};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const CommandResult result = runCommand(command);
    EXPECT_EQ(result.status, 1) << message;
    EXPECT_NE(result.output.find(message), std::string::npos) << result.output;
    EXPECT_FALSE(std::filesystem::exists(out)) << message;
  }
  EXPECT_EQ(runCommand({HELPER_TEST_SIGNER}).status, 2);
}

TEST(Resigning, SignedFilesAreSignedAgainInPlace) {
  for (const char* name : {"helper-devid-arm64", "helper-devid-universal", "helper-devid-sha1-sha256"}) {
    SCOPED_TRACE(name);
    TemporaryDirectory directory;
    std::vector<std::string> command = devIDSign(fixturePath(name), directory.file("out"));
    command.insert(command.end(), {"--page-size", "16384"});
    const CommandResult result = runCommand(command);
    ASSERT_EQ(result.status, 0) << result.output;
    const ImageView before = readImage(fixturePath(name));
    const ImageView after = readImage(directory.file("out"));
    ASSERT_EQ(after.slices.size(), before.slices.size());
    for (std::size_t i = 0; i < after.slices.size(); ++i) {
      EXPECT_EQ(after.slices[i].ncmds, before.slices[i].ncmds);
      EXPECT_EQ(after.slices[i].dataoff, before.slices[i].dataoff);
      const std::vector<CodeDirectoryView> directories = after.slices[i].codeDirectories();
      ASSERT_EQ(directories.size(), 1u);
      EXPECT_EQ(directories[0].pageShift, 14);
      EXPECT_EQ(mismatchedPages(after.slices[i], directories[0]), std::vector<std::uint32_t>{});
    }
  }
}

}  // namespace
}  // namespace signer_test
