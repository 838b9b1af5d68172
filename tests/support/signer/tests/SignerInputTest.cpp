// The signer refuses malformed Mach-O files and options it cannot honour with
// a message and writes nothing, so that a broken recipe cannot leave a fixture behind
// that is broken in a way its name does not say.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "SignedImage.h"

namespace signer_test {
namespace {

using signer::storeLE32;

std::uint32_t le32(const Bytes& bytes, std::size_t offset) { return signer::ByteReader(bytes).le32(offset, "test"); }

void storeBE32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (24 - 8 * i));
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
  std::function<void(Bytes&)> damage;  // empty: the fixture as it is
  const char* message;
  std::vector<std::string> options{};  // after --identifier x --adhoc
};

void PrintTo(const InputCase& c, std::ostream* out) { *out << c.what; }

const std::vector<InputCase> kBadInput{
    {"empty file", "unsigned-arm64", [](Bytes& b) { b.clear(); }, "truncated input"},
    {"not a Mach-O", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 0, 0x464c457f); }, "not a 64-bit little-endian Mach-O"},
    {"load commands past the end", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 20, 0xfffffff0); },
     "load commands run past the end"},
    {"zero cmdsize", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 36, 0); }, "load command 0 has a bad size"},
    {"cmdsize past sizeofcmds", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 36, 0x7ffffff8); }, "load command 0 has a bad size"},
    {"absurd ncmds", "unsigned-arm64", [](Bytes& b) { storeLE32(b, 16, 0x40000000); }, "too many load commands"},
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
    {"overlapping slices", "helper-devid-universal", [](Bytes& b) { std::copy_n(b.begin() + 16, 4, b.begin() + 36); }, "overlap"},
    {"alignment beyond 2^30", "helper-devid-universal", [](Bytes& b) { storeBE32(b, 8 + 16, 31); }, "alignment"},
    {"slice of another architecture", "helper-devid-universal", [](Bytes& b) { storeBE32(b, 8, 0x0100000c); },
     "holds another architecture"},
    {"unknown hash", "unsigned-arm64", {}, "unknown hash md5", {"--hashes", "md5"}},
    {"page size not a power of two", "unsigned-arm64", {}, "must be 0 or a power of two", {"--page-size", "12288"}},
    {"absent architecture", "unsigned-arm64", {}, "names an architecture the file does not have", {"--only-arch", "x86_64"}},
    {"code limit cut past the start", "unsigned-arm64", {}, "--code-limit-short exceeds", {"--code-limit-short", "99999999"}},
    {"key without certificate", "unsigned-arm64", {}, "--cert and --key go together", {"--key", "k"}},
};

class BadInput : public testing::TestWithParam<InputCase> {};

TEST_P(BadInput, IsRefusedWithAMessageAndNoOutput) {
  TemporaryDirectory directory;
  Bytes bytes = signer::readFile(fixturePath(GetParam().fixture));
  if (GetParam().damage) GetParam().damage(bytes);
  signer::writeFile(directory.file("in"), bytes);
  std::vector<std::string> command{HELPER_TEST_SIGNER, "sign", directory.file("in"), directory.file("out"),
                                   "--identifier", "x", "--adhoc"};
  command.insert(command.end(), GetParam().options.begin(), GetParam().options.end());
  const CommandResult result = runCommand(command);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
  EXPECT_FALSE(std::filesystem::exists(directory.file("out")));
}

INSTANTIATE_TEST_SUITE_P(Signer, BadInput, testing::ValuesIn(kBadInput), [](const auto& info) {
  std::string name = info.param.what;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

}  // namespace
}  // namespace signer_test
