// The layers call one way only. The rule is the table of layers in the
// README's part for developers, which the build reads too: every source
// file's #include lines are held against it here, so that a wrong-way
// include is named with its file even where the build would only say that
// a header cannot be found, and an include the build cannot see (one
// without its folder, found beside the file) is refused as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

struct LayerRow {
  std::string name;
  std::vector<std::string> patterns;  // "sound/kl*": a folder and a name's beginning
  std::set<std::string> includes;
};

std::vector<LayerRow> layerTable() {
  std::ifstream readme(fs::path(KALIMBRO_SOURCE_DIR) / "README.md");
  const std::regex row(R"re(^\| ([a-z]+) \|([^|]*)\|([^|]*)\|)re");
  const std::regex pattern("`([^`]+)`");
  const std::regex word("[a-z]+");
  std::vector<LayerRow> rows;
  std::smatch match;
  for (std::string line; std::getline(readme, line);) {
    if (!std::regex_search(line, match, row) || match[2].str().find('`') == std::string::npos) continue;
    LayerRow layer{match[1], {}, {}};
    const std::string files = match[2], includes = match[3];
    for (std::sregex_iterator p(files.begin(), files.end(), pattern), end; p != end; ++p)
      layer.patterns.push_back((*p)[1]);
    for (std::sregex_iterator w(includes.begin(), includes.end(), word), end; w != end; ++w)
      layer.includes.insert(w->str());
    rows.push_back(layer);
  }
  return rows;
}

// The layer whose pattern matches `path` most closely; "" when none does.
std::string layerOf(const std::vector<LayerRow>& table, const std::string& path) {
  std::string best;
  size_t closeness = 0;
  for (const LayerRow& layer : table) {
    for (const std::string& pattern : layer.patterns) {
      const std::string prefix = pattern.substr(0, pattern.find('*'));
      const bool matches = path.starts_with(prefix) && path.find('/', prefix.size()) == std::string::npos;
      if (matches && (best.empty() || prefix.size() > closeness)) {
        best = layer.name;
        closeness = prefix.size();
      }
    }
  }
  return best;
}

TEST(Layers, EveryIncludeGoesTheWayTheTableAllows) {
  const std::vector<LayerRow> table = layerTable();
  ASSERT_EQ(table.size(), 5u) << "the README's table of layers";
  std::map<std::string, std::set<std::string>> includesOf;
  std::set<std::string> folders;
  for (const LayerRow& layer : table) {
    includesOf[layer.name] = layer.includes;
    for (const std::string& pattern : layer.patterns) folders.insert(pattern.substr(0, pattern.find('/')));
  }
  EXPECT_EQ(folders, (std::set<std::string>{"app", "console", "edit", "formats", "history", "levels", "platform",
                                            "sound"}));
  // The lower layers first: a layer names only layers that come before it.
  for (size_t i = 0; i < table.size(); ++i)
    for (const std::string& below : table[i].includes)
      EXPECT_TRUE(std::any_of(table.begin(), table.begin() + static_cast<long>(i),
                              [&](const LayerRow& r) { return r.name == below; }))
          << table[i].name << " names " << below;

  const std::regex quotedInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
  int includesSeen = 0;
  std::ostringstream wrongWay;
  for (const std::string& folder : folders) {
    for (const auto& entry : fs::directory_iterator(fs::path(KALIMBRO_SOURCE_DIR) / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h") continue;
      const std::string from = folder + "/" + entry.path().filename().string();
      const std::string fromLayer = layerOf(table, from);
      ASSERT_NE(fromLayer, "") << from << " belongs to no layer";
      std::ifstream in(entry.path());
      std::smatch match;
      for (std::string line; std::getline(in, line);) {
        if (!std::regex_search(line, match, quotedInclude)) continue;
        const std::string to = match[1];
        ++includesSeen;
        const std::string toLayer = layerOf(table, to);
        if (toLayer.empty() || !fs::exists(fs::path(KALIMBRO_SOURCE_DIR) / to)) {
          wrongWay << "\n  " << from << " includes \"" << to << "\", which is no header of a layer";
        } else if (toLayer != fromLayer && !includesOf[fromLayer].contains(toLayer)) {
          wrongWay << "\n  " << from << " (" << fromLayer << ") includes \"" << to << "\" (" << toLayer << ")";
        }
      }
    }
  }
  EXPECT_EQ(wrongWay.str(), "");
  EXPECT_GT(includesSeen, 250);
}

// A thread started any other way than startWorkerThread could take the
// program's signals, whose handlers expect the main thread.
TEST(Layers, EveryThreadStartsThroughTheOneHelper) {
  const std::regex startsAThread(R"re(std::(jthread\b|async\b|thread\s*[({]|thread\s+\w+\s*[({])|pthread_create)re");
  std::string startedElsewhere;
  for (const std::string folder : {"app", "console", "edit", "formats", "history", "levels", "platform", "sound"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(KALIMBRO_SOURCE_DIR) / folder)) {
      const std::string from = folder + "/" + entry.path().filename().string();
      if (from.starts_with("platform/worker_thread.")) continue;
      std::ifstream in(entry.path());
      int number = 0;
      for (std::string line; std::getline(in, line);)
        if (++number, std::regex_search(line, startsAThread))
          startedElsewhere += "\n  " + from + ":" + std::to_string(number) + ": " + line;
    }
  }
  EXPECT_EQ(startedElsewhere, "");
}

}  // namespace
}  // namespace kalimbro
