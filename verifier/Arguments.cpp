#include "verifier/Arguments.h"

namespace verifier {
namespace {

// Walks the words, handing out option values in either spelling
// ("--requirement TEXT" or "--requirement=TEXT").
class Words {
 public:
  explicit Words(const std::vector<std::string>& args) : _args(args) {}
  bool done() const { return _next >= _args.size(); }
  const std::string& take() { return _args[_next++]; }

  // The value of `option` when `word` names it; sets *missing when the
  // value is absent.
  std::optional<std::string> valueOf(const std::string& word, const std::string& option, bool* missing) {
    if (word.size() > option.size() && word.compare(0, option.size() + 1, option + "=") == 0)
      return word.substr(option.size() + 1);
    if (word != option) return std::nullopt;
    if (done()) return *missing = true, std::nullopt;
    return take();
  }

 private:
  const std::vector<std::string>& _args;
  std::size_t _next = 0;
};

// One option word; false with the problem when it is not one we know.
bool takeOption(const std::string& word, Words& words, Arguments& out, std::string* problem) {
  bool missing = false;
  if (word == "--json") return out.json = true;
  if (word == "--display") return out.display = true;
  if (word == "--entitlements") return out.entitlements = out.display = true;
  if (word == "--help") return out.help = true;
  if (auto text = words.valueOf(word, "--requirement", &missing)) {
    if (out.requirement) return *problem = "--requirement given twice", false;
    return out.requirement = std::move(*text), true;
  }
  if (auto file = words.valueOf(word, "--anchor", &missing)) return out.anchorFiles.push_back(std::move(*file)), true;
  *problem = missing ? word + " needs a value" : "unknown option " + word;
  return false;
}

}  // namespace

std::optional<Arguments> parseArguments(const std::vector<std::string>& args, std::string* problem) {
  Arguments out;
  std::vector<std::string> operands;
  Words words(args);
  bool optionsEnded = false;
  while (!words.done()) {
    const std::string& word = words.take();
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
      if (!takeOption(word, words, out, problem)) return std::nullopt;
    } else {
      operands.push_back(word);
    }
  }
  if (out.help) return out;
  if (operands.size() != 1) return *problem = operands.empty() ? "no FILE given" : "more than one FILE given", std::nullopt;
  out.file = operands.front();
  return out;
}

}  // namespace verifier
