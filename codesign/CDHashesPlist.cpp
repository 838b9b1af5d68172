#include "codesign/CDHashesPlist.h"

#include "codesign/Base64.h"
#include "codesign/requirement/PropertyListReader.h"

namespace codesign {
namespace {

constexpr std::size_t kMaxEntries = 16;

}  // namespace

bool parseCDHashesPlist(std::string_view xml, std::vector<Bytes>* out) {
  out->clear();
  requirement::Value dictionary;
  if (readPropertyListDictionary(Bytes(xml.begin(), xml.end()), &dictionary) != 0 || dictionary.keys.size() != 1)
    return false;
  const requirement::Value* list = dictionary.find("cdhashes");
  if (list == nullptr || list->type != requirement::Value::Type::Array || list->items.empty() ||
      list->items.size() > kMaxEntries)
    return false;
  for (const requirement::Value& item : list->items) {
    Bytes hash;
    if (item.type != requirement::Value::Type::Data || !decodeBase64(item.text, &hash)) return false;
    out->push_back(std::move(hash));
  }
  return true;
}

}  // namespace codesign
