#include "TestFiles.h"

#include <fstream>

#include "codesign/Requirement.h"

namespace fs = std::filesystem;
using namespace codesign;

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

OSStatus verify(const fs::path& path, const std::string& requirementText) {
  StaticCodeRef code;
  if (const OSStatus status = SecStaticCodeCreateWithPath(platform::FileURL{path.string()}, 0, &code)) return status;
  RequirementRef requirement;
  if (!requirementText.empty())
    if (const OSStatus status = SecRequirementCreateWithString(requirementText, 0, &requirement)) return status;
  return SecStaticCodeCheckValidity(code.get(), kSecCSCheckAllArchitectures | kSecCSStrictValidate,
                                    requirement.get());
}
}  // namespace codesign_test
