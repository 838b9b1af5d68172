#include "TestFiles.h"

#include <cstdlib>
#include <fstream>
#include <random>

#include <openssl/evp.h>

#include "platform/codesign/Requirement.h"

namespace fs = std::filesystem;
using namespace platform::codesign;

namespace codesign_test {

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
  std::random_device random;
  _path = fs::temp_directory_path() / ("codesign-test-" + std::to_string(random()));
  fs::create_directories(_path);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(_path, ignored);
}

OSStatus verify(const fs::path& path, const std::string& requirementText) {
  StaticCodeRef code;
  if (const OSStatus status = SecStaticCodeCreateWithPath(platform::FileURL{path.string()}, 0, &code)) return status;
  RequirementRef requirement;
  if (!requirementText.empty())
    if (const OSStatus status = SecRequirementCreateWithString(requirementText, 0, &requirement)) return status;
  return SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate,
                                    requirement.get());
}

std::string toolRequirement(const std::string& identifier, const std::string& team) {
  return "anchor apple generic and identifier \"" + identifier +
         "\" and (certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate "
         "1[field.1.2.840.113635.100.6.2.6] and certificate leaf[field.1.2.840.113635.100.6.1.13] and "
         "certificate leaf[subject.OU] = \"" +
         team + "\")";
}

std::string sha256Hex(const Bytes& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) out += {hex[digest[i] >> 4], hex[digest[i] & 15]};
  return out;
}

namespace {

std::string safeName(std::string text) {
  for (char& c : text)
    if (c == '/' || c == '@') c = '_';
  return text;
}

// Runs `npm pack` in the cache directory; the tarball's path, or nothing.
std::optional<fs::path> packTarball(const Published& binary, const fs::path& cache, std::string* why) {
  const fs::path listing = cache / (safeName(binary.profile) + ".pack");
  const std::string command = "cd '" + cache.string() + "' && timeout 300 npm pack --silent '" + binary.profile +
                              "' > '" + listing.string() + "' 2>/dev/null";
  if (std::system("command -v npm > /dev/null 2>&1") != 0) return *why = "npm is not installed", std::nullopt;
  if (std::system(command.c_str()) != 0) return *why = "npm pack " + std::string(binary.profile) + " failed (offline?)", std::nullopt;
  std::ifstream in(listing);
  std::string name, line;
  while (std::getline(in, line))
    if (!line.empty()) name = line;
  if (name.empty()) return *why = "npm pack printed no file name", std::nullopt;
  return cache / name;
}

}  // namespace

std::optional<fs::path> fetchPublished(const Published& binary, std::string* why) {
  const fs::path cache = CODESIGN_DOWNLOAD_DIR;
  const fs::path target = cache / safeName(std::string(binary.profile) + "-" + fs::path(binary.member).filename().string());
  if (fs::exists(target) && sha256Hex(readFile(target)) == binary.fileSha256) return target;
  fs::create_directories(cache);
  const auto tarball = packTarball(binary, cache, why);
  if (!tarball) return std::nullopt;
  if (sha256Hex(readFile(*tarball)) != binary.tarballSha256)
    return *why = "tarball digest differs for " + std::string(binary.profile), std::nullopt;
  const std::string extract = "tar -xzOf '" + tarball->string() + "' '" + binary.member + "' > '" + target.string() + "'";
  if (std::system(extract.c_str()) != 0 || sha256Hex(readFile(target)) != binary.fileSha256)
    return *why = "extracted file digest differs for " + std::string(binary.profile), std::nullopt;
  return target;
}

}  // namespace codesign_test
