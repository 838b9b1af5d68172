#include "platform/codesign/PageHashes.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/codesign/Status.h"

namespace platform::codesign {
namespace {

// Every page size a directory may use (4 KiB or 16 KiB) is a multiple of this.
constexpr std::uint64_t kStride = 4096;

// One directory's running page digest.
struct PageDigest {
  const CodeDirectory* directory;
  ossl::MD md;
  ossl::MDContext context;
  std::uint64_t pageSize;
};

bool finishPage(PageDigest& page, std::uint64_t pageIndex) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(page.context.get(), out, &length) != 1) return false;
  const auto expected = page.directory->codeSlotHash(static_cast<std::uint32_t>(pageIndex));
  return expected.size() <= length && std::memcmp(out, expected.data(), expected.size()) == 0;
}

// Feeds [position, position + stride) of the slice, cut at the directory's
// code limit, to its digest; finishes and compares a page at its end.
bool feed(PageDigest& page, const ByteReader& slice, std::uint64_t position) {
  const std::uint64_t limit = page.directory->codeLimit();
  if (position >= limit) return true;
  const std::uint64_t length = std::min(kStride, limit - position);
  if (position % page.pageSize == 0 && EVP_DigestInit_ex2(page.context.get(), page.md.get(), nullptr) != 1)
    return false;
  ByteReader stretch;
  if (!slice.sub(position, length, &stretch) ||
      EVP_DigestUpdate(page.context.get(), stretch.bytes().data(), stretch.bytes().size()) != 1)
    return false;
  const std::uint64_t end = position + length;
  if (end != limit && end % page.pageSize != 0) return true;
  return finishPage(page, position / page.pageSize);
}

}  // namespace

OSStatus verifyPageHashes(const ByteReader& slice, std::span<const CodeDirectory* const> directories) {
  std::vector<PageDigest> pages;
  std::uint64_t end = 0;
  for (const CodeDirectory* cd : directories) {
    if (cd->codeLimit() > slice.size()) return errSecCSSignatureFailed;
    PageDigest page{cd, fetchDigest(cd->hashType()), ossl::MDContext(EVP_MD_CTX_new()),
                    std::uint64_t{1} << cd->pageShift()};
    if (!page.md || !page.context) return errSecCSInternalError;
    end = std::max(end, cd->codeLimit());
    pages.push_back(std::move(page));
  }
  for (std::uint64_t position = 0; position < end; position += kStride)
    for (PageDigest& page : pages)
      if (!feed(page, slice, position)) return errSecCSSignatureFailed;
  return errSecSuccess;
}

}  // namespace platform::codesign
