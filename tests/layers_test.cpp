// The folders call one way only. Every source file's #include lines are read
// and held against the layer its file belongs to:
//   app/          the main program: may include anything;
//   sound/kl*, edit/*  the commands: one another, engines, console and
//                 platform, and of app/ only the catalogue, the program-wide
//                 state, the working file and the opening and saving of
//                 sound files;
//   sound/ (the rest)  the engines: other engines and platform, and of the
//                 console only the settings (vrini) and the names of the
//                 key queue's bytes (keys, which includes nothing): a
//                 recording ends on the ESC the user side hands over;
//   console/      console and platform;
//   platform/     platform only. The WAV header unit lives there, so that
//                 the arquivo: device and every layer above share it.
// The console and the engines never see each other: where one needs the
// other (tones, speech, keys, work clicks) it declares a small interface and
// app/soundLinks connects the two.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace kalimbro {
namespace {

namespace fs = std::filesystem;

enum class Layer { app, command, engine, console, platform };

Layer layerOf(const std::string& path) {
  const std::string folder = path.substr(0, path.find('/'));
  const std::string name = path.substr(path.find('/') + 1);
  if (folder == "app") return Layer::app;
  if (folder == "edit") return Layer::command;
  if (folder == "sound") return name.starts_with("kl") ? Layer::command : Layer::engine;
  if (folder == "console") return Layer::console;
  return Layer::platform;  // the test refuses any other folder before asking
}

bool allowed(const std::string& from, const std::string& to) {
  // The engines may read the key names only because they bring nothing else.
  if (from == "console/keys.h") return false;
  const Layer a = layerOf(from);
  const Layer b = layerOf(to);
  switch (a) {
    case Layer::app: return true;
    case Layer::command: {
      static const std::set<std::string> appForCommands = {"app/klMsg.h", "app/programState.h", "app/klArquivo.h",
                                                          "app/openSave.h"};
      return b != Layer::app || appForCommands.contains(to);
    }
    case Layer::engine:
      return b == Layer::engine || b == Layer::platform || to == "console/vrini.h" || to == "console/keys.h";
    case Layer::console: return b == Layer::console || b == Layer::platform;
    case Layer::platform: return b == Layer::platform;
  }
  return false;
}

TEST(Layers, EveryIncludeGoesTheAllowedWay) {
  const std::regex quotedInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
  const std::set<std::string> folders = {"app", "sound", "edit", "console", "platform"};
  std::set<std::string> foldersSeen;
  int includesSeen = 0;
  std::string wrongWay;
  for (const std::string& folder : folders) {
    for (const auto& entry : fs::directory_iterator(fs::path(KALIMBRO_SOURCE_DIR) / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".cpp" && extension != ".h") continue;
      const std::string from = folder + "/" + entry.path().filename().string();
      std::ifstream in(entry.path());
      std::smatch match;
      for (std::string line; std::getline(in, line);) {
        if (!std::regex_search(line, match, quotedInclude)) continue;
        const std::string to = match[1];
        ++includesSeen;
        foldersSeen.insert(folder);
        ASSERT_TRUE(folders.contains(to.substr(0, to.find('/')))) << from << " includes \"" << to << "\"";
        if (!allowed(from, to)) wrongWay += "\n  " + from + " includes \"" + to + "\"";
      }
    }
  }
  EXPECT_EQ(wrongWay, "");
  EXPECT_EQ(foldersSeen, folders);
  EXPECT_GT(includesSeen, 250);
}

}  // namespace
}  // namespace kalimbro
