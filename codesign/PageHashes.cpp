#include "codesign/PageHashes.h"

#include <algorithm>
#include <cstring>

#include "codesign/Status.h"

namespace codesign {

namespace {

bool finishPage(const CodeDirectory& cd, PageDigest& digest, std::uint64_t pageIndex) {
  PageDigest::Output out;
  const std::size_t length = digest.finish(&out);
  const auto expected = cd.codeSlotHash(static_cast<std::uint32_t>(pageIndex));
  return !expected.empty() && expected.size() <= length && std::memcmp(out.data(), expected.data(), expected.size()) == 0;
}

}  // namespace

OSStatus PageHashes::create(std::span<const CodeDirectory* const> directories, std::uint64_t sliceSize,
                            std::unique_ptr<PageHashes>* out, FailureDetail* detail) {
  std::unique_ptr<PageHashes> pages(new PageHashes());
  for (const CodeDirectory* cd : directories) {
    if (cd->codeLimit() > sliceSize)
      return explain(detail, errSecCSSignatureFailed, cd->hashType(),
                     "the code limit " + hexNumber(cd->codeLimit()) + " lies beyond the slice's end " +
                         hexNumber(sliceSize));
    const std::uint64_t pageSize = cd->pageShift() == 0 ? cd->codeLimit() : std::uint64_t{1} << cd->pageShift();
    Directory directory{cd, PageDigest::create(cd->hashType()), pageSize};
    if (!directory.digest)
      return explain(detail, errSecCSInternalError, cd->hashType(), "the page digest cannot be set up");
    pages->_extent = std::max(pages->_extent, cd->codeLimit());
    pages->_directories.push_back(std::move(directory));
  }
  *out = std::move(pages);
  return errSecSuccess;
}

void PageHashes::take(std::span<const std::uint8_t> bytes) {
  for (Directory& directory : _directories) feed(directory, bytes);
  _position += bytes.size();
}

// Feeds the bytes at _position, cut at the directory's code limit, to its
// digest; starts a page at its first byte, and finishes and compares it at
// its last.
void PageHashes::feed(Directory& d, std::span<const std::uint8_t> bytes) {
  const std::uint64_t limit = d.cd->codeLimit();
  std::uint64_t position = _position;
  while (!bytes.empty() && position < limit && !_failed) {
    const std::uint64_t pageStart = position - position % d.pageSize;
    const std::uint64_t pageEnd = std::min(limit, pageStart + d.pageSize);
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), pageEnd - position));
    bool ok = position != pageStart || d.digest->start();
    ok = ok && d.digest->update(bytes.first(length));
    position += length;
    bytes = bytes.subspan(length);
    if (ok && position == pageEnd) ok = finishPage(*d.cd, *d.digest, pageStart / d.pageSize);
    if (!ok) {
      _failed = true;
      _mismatch = Mismatch{d.cd, pageStart / d.pageSize, pageStart};
    }
  }
}

OSStatus PageHashes::result() const {
  return !_failed && _position >= _extent ? errSecSuccess : errSecCSSignatureFailed;
}

}  // namespace codesign
