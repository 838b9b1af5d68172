#include "SignedImage.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace signer_test {

namespace {

void require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(std::string("malformed image: ") + what);
}

std::span<const std::uint8_t> within(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t size,
                                     const char* what) {
  require(offset <= bytes.size() && size <= bytes.size() - offset, what);
  return bytes.subspan(offset, size);
}

std::uint64_t le64(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return le32(bytes, offset) | std::uint64_t(le32(bytes, offset + 4)) << 32;
}

std::uint64_t be64(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return std::uint64_t(be32(bytes, offset)) << 32 | be32(bytes, offset + 4);
}

std::string name16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  const auto field = within(bytes, offset, 16, "name");
  std::string name(field.begin(), field.end());
  return name.substr(0, name.find('\0'));
}

std::string cString(std::span<const std::uint8_t> blob, std::uint32_t offset) {
  std::string text;
  for (std::size_t i = offset; i < blob.size() && blob[i] != 0; ++i) text.push_back(static_cast<char>(blob[i]));
  return text;
}

void readSegment(SliceView& slice, std::size_t command) {
  const std::string name = name16(slice.bytes, command + 8);
  const std::uint64_t fileoff = le64(slice.bytes, command + 40), filesize = le64(slice.bytes, command + 48);
  if (name == "__LINKEDIT") slice.linkeditEnd = fileoff + filesize;
  if (name == "__TEXT") slice.textFileoff = fileoff, slice.textFilesize = filesize;
  for (std::uint32_t i = 0; i < le32(slice.bytes, command + 64); ++i) {
    const std::size_t section = command + 72 + 80 * i;
    if (name16(slice.bytes, section) == "__info_plist")
      slice.infoPlist = {{le32(slice.bytes, section + 48), le64(slice.bytes, section + 40)}};
  }
}

void readSuperBlob(SliceView& slice) {
  const auto signature = within(slice.bytes, slice.dataoff, slice.datasize, "signature");
  require(be32(signature, 0) == 0xfade0cc0, "SuperBlob magic");
  slice.superBlobLength = be32(signature, 4);
  const auto superBlob = within(signature, 0, slice.superBlobLength, "SuperBlob length");
  for (std::uint32_t i = 0; i < be32(superBlob, 8); ++i) {
    const std::uint32_t offset = be32(superBlob, 16 + 8 * i);
    const auto blob = within(superBlob, offset, be32(superBlob, offset + 4), "blob");
    slice.blobs.emplace_back(be32(superBlob, 12 + 8 * i), Bytes(blob.begin(), blob.end()));
  }
}

SliceView readSlice(std::span<const std::uint8_t> bytes) {
  SliceView slice;
  slice.bytes.assign(bytes.begin(), bytes.end());
  require(le32(bytes, 0) == 0xfeedfacf, "Mach-O magic");
  slice.cputype = le32(bytes, 4);
  slice.ncmds = le32(bytes, 16);
  std::size_t command = 32;
  for (std::uint32_t i = 0; i < slice.ncmds; ++i) {
    const std::uint32_t cmd = le32(bytes, command), cmdsize = le32(bytes, command + 4);
    require(cmdsize >= 8, "load command size");
    if (cmd == 0x19) readSegment(slice, command);
    if (cmd == 0x1d) {
      ++slice.codeSignatureCommands;
      slice.dataoff = le32(bytes, command + 8);
      slice.datasize = le32(bytes, command + 12);
    }
    command += cmdsize;
  }
  if (slice.isSigned()) readSuperBlob(slice);
  return slice;
}

}  // namespace

std::string fixturePath(const std::string& name) { return std::string(HELPER_FIXTURE_DIR) + "/" + name; }
std::string caPath(const std::string& name) { return std::string(HELPER_TEST_CA_DIR) + "/" + name; }

Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes hashOf(const EVP_MD* algorithm, std::span<const std::uint8_t> bytes) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, algorithm, nullptr) != 1)
    throw std::runtime_error("digest failed");
  out.resize(length);
  return out;
}

const EVP_MD* algorithmOfHashType(std::uint8_t hashType) {
  switch (hashType) {
    case 1: return EVP_sha1();
    case 2: return EVP_sha256();
    case 4: return EVP_sha384();
    default: throw std::runtime_error("unexpected hash type");
  }
}

std::uint32_t be32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  const auto p = within(bytes, offset, 4, "u32");
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  const auto p = within(bytes, offset, 4, "u32");
  return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

Bytes CodeDirectoryView::hashSlot(int index) const {
  const std::int64_t offset = std::int64_t(hashOffset) + std::int64_t(index) * hashSize;
  require(offset >= 0, "hash slot");
  const auto hash = within(blob, static_cast<std::uint64_t>(offset), hashSize, "hash slot");
  return Bytes(hash.begin(), hash.end());
}

const Bytes& SliceView::blob(std::uint32_t slot) const {
  for (const auto& [type, bytes] : blobs)
    if (type == slot) return bytes;
  throw std::runtime_error("no blob in slot " + std::to_string(slot));
}

bool SliceView::hasBlob(std::uint32_t slot) const {
  for (const auto& entry : blobs)
    if (entry.first == slot) return true;
  return false;
}

std::vector<CodeDirectoryView> SliceView::codeDirectories() const {
  std::vector<CodeDirectoryView> directories;
  for (const auto& [slot, bytes] : blobs) {
    if (slot != 0 && (slot < 0x1000 || slot > 0x1004)) continue;
    CodeDirectoryView cd;
    cd.slot = slot;
    cd.blob = bytes;
    require(be32(bytes, 0) == 0xfade0c02 && bytes.size() >= 88, "CodeDirectory header");
    cd.version = be32(bytes, 8), cd.flags = be32(bytes, 12), cd.hashOffset = be32(bytes, 16);
    cd.nSpecialSlots = be32(bytes, 24), cd.nCodeSlots = be32(bytes, 28), cd.codeLimit = be32(bytes, 32);
    cd.hashSize = bytes[36], cd.hashType = bytes[37], cd.pageShift = bytes[39];
    cd.execSegBase = be64(bytes, 64), cd.execSegLimit = be64(bytes, 72), cd.execSegFlags = be64(bytes, 80);
    cd.identifier = cString(bytes, be32(bytes, 20));
    if (const std::uint32_t teamOffset = be32(bytes, 48)) cd.team = cString(bytes, teamOffset);
    directories.push_back(std::move(cd));
  }
  return directories;
}

Bytes SliceView::cms() const {
  const Bytes& wrapper = blob(0x10000);
  require(be32(wrapper, 0) == 0xfade0b01, "signature wrapper magic");
  return Bytes(wrapper.begin() + 8, wrapper.end());
}

ImageView readImage(const std::string& path) {
  ImageView image;
  image.file = readBytes(path);
  if (be32(image.file, 0) != 0xcafebabe) {
    image.slices.push_back(readSlice(image.file));
    return image;
  }
  for (std::uint32_t i = 0; i < be32(image.file, 4); ++i) {
    const std::size_t record = 8 + 20 * i;
    FatArchView arch{be32(image.file, record), be32(image.file, record + 8), be32(image.file, record + 12),
                     be32(image.file, record + 16)};
    image.arches.push_back(arch);
    image.slices.push_back(readSlice(within(image.file, arch.offset, arch.size, "slice")));
  }
  return image;
}

std::vector<std::uint32_t> mismatchedPages(const SliceView& slice, const CodeDirectoryView& cd) {
  std::vector<std::uint32_t> mismatched;
  const std::uint64_t page = std::uint64_t(1) << cd.pageShift;
  for (std::uint32_t i = 0; i < cd.nCodeSlots; ++i) {
    const std::uint64_t start = i * page;
    const auto bytes = within(slice.bytes, start, std::min<std::uint64_t>(page, cd.codeLimit - start), "page");
    Bytes hash = hashOf(algorithmOfHashType(cd.hashType), bytes);
    hash.resize(cd.hashSize);
    if (hash != cd.hashSlot(static_cast<int>(i))) mismatched.push_back(i);
  }
  return mismatched;
}

namespace {

std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Closes the pipe and keeps the command's wait status.
struct PipeCloser {
  int* status;
  void operator()(FILE* pipe) const { *status = pclose(pipe); }
};

}  // namespace

CommandResult runCommand(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& word : argv) line += quoted(word) + " ";
  line += "2>&1";
  int status = -1;
  std::unique_ptr<FILE, PipeCloser> pipe(popen(line.c_str(), "r"), PipeCloser{&status});
  if (!pipe) throw std::runtime_error("cannot run " + line);
  CommandResult result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) result.output.append(buffer, n);
  pipe.reset();
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TemporaryDirectory::TemporaryDirectory()
    : _path((std::filesystem::temp_directory_path() / "signer-test-XXXXXX").string()) {
  if (!mkdtemp(_path.data())) throw std::runtime_error("cannot make a temporary directory");
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(_path, ignored);
}

}  // namespace signer_test
