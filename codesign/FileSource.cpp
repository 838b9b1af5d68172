#include "codesign/FileSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codesign/ByteReader.h"
#include "codesign/Status.h"

namespace codesign {

OSStatus readExactly(const FileSource& file, std::uint64_t offset, std::span<std::uint8_t> out) {
  if (!inRange(offset, out.size(), file.size())) return errSecCSSignatureFailed;
  std::size_t done = 0;
  while (done < out.size()) {
    const std::int64_t got = file.readAt(offset + done, out.subspan(done));
    if (got < 0) return kUnixErrorBase + errno;
    if (got == 0) return errSecCSSignatureFailed;  // cut short since it was opened
    done += static_cast<std::size_t>(got);
  }
  return errSecSuccess;
}

std::int64_t MemorySource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset >= _bytes.size()) return 0;
  const std::size_t length = std::min<std::uint64_t>(out.size(), _bytes.size() - offset);
  std::memcpy(out.data(), _bytes.data() + offset, length);
  return static_cast<std::int64_t>(length);
}

}  // namespace codesign
