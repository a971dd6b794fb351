#include "golden.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace t6963::testing {
namespace {

std::string pathOf(const std::string& name) { return std::string(KELVARI_TEST_DATA) + "/t6963/" + name; }

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual) {
  const std::string path = pathOf(name);
  const char* update = std::getenv("KELVARI_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << actual;
    return ::testing::AssertionSuccess() << "wrote " << path;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return ::testing::AssertionFailure() << "missing golden file " << path;
  std::ostringstream golden;
  golden << in.rdbuf();
  if (golden.str() == actual) return ::testing::AssertionSuccess();

  const auto expectedLines = linesOf(golden.str());
  const auto actualLines = linesOf(actual);
  auto failure = ::testing::AssertionFailure() << name << " differs:";
  int reported = 0;
  for (std::size_t i = 0; i < std::max(expectedLines.size(), actualLines.size()) && reported < 8; ++i) {
    const std::string expected = i < expectedLines.size() ? expectedLines[i] : "(none)";
    const std::string got = i < actualLines.size() ? actualLines[i] : "(none)";
    if (expected == got) continue;
    failure << "\n row " << i << "\n   golden: " << expected << "\n   actual: " << got;
    ++reported;
  }
  return failure;
}

}  // namespace t6963::testing
