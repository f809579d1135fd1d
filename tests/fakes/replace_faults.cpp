#include "tests/fakes/replace_faults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace kalimbro {
namespace {

// A replacement writes its new version under a hidden sibling's name
// (".NAME.kalimbro-XXXXXXXXXX", see createHiddenSibling).
bool isNewVersion(const std::string& nativeName) {
  const std::string name = std::filesystem::path(nativeName).filename().string();
  const size_t mark = name.rfind(".kalimbro-");
  return name.starts_with('.') && mark != std::string::npos && name.size() - mark == 20;
}

constexpr DiskCall callOf(ReplaceStep step) {
  switch (step) {
    case ReplaceStep::write: return DiskCall::writeAt;
    case ReplaceStep::flush: return DiskCall::syncAll;
    case ReplaceStep::rename: return DiskCall::rename;
  }
  return DiskCall::writeAt;
}

// Large contents as their size and a hash: what a failed comparison prints
// stays readable.
std::string shortForm(std::string bytes) {
  if (bytes.size() <= 64) return bytes;
  return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>{}(bytes));
}

// A loop that never runs through is a fault of the save, not a slow test.
constexpr int kMostRuns = 1000;

}  // namespace

ReplaceFault::ReplaceFault(ReplaceStep step, int nth) : step_(step), nth_(nth) {
  disk_.failCall(nth, EIO, [call = callOf(step)](const DiskCallSeen& seen) {
    return seen.kind == call && isNewVersion(seen.name);
  });
}

ReplaceFault::~ReplaceFault() = default;

bool ReplaceFault::hit() const { return disk_.hit(); }

std::ostream& operator<<(std::ostream& out, const ReplaceFault& fault) {
  static constexpr const char* kNames[] = {"write", "flush", "rename"};
  return out << kNames[static_cast<int>(fault.step())] << ' ' << fault.nth();
}

ReplaceFaultRuns failEachReplaceStep(const std::function<void(const ReplaceFault& fault)>& run) {
  ReplaceFaultRuns runs;
  for (auto [step, count] : {std::pair{ReplaceStep::write, &runs.writes}, std::pair{ReplaceStep::flush, &runs.flushes},
                             std::pair{ReplaceStep::rename, &runs.renames}}) {
    for (int nth = 1;; ++nth) {
      const ReplaceFault fault(step, nth);
      run(fault);
      if (!fault.hit()) break;
      ++*count;
      if (nth == kMostRuns) {
        ADD_FAILURE() << "still failing after " << fault;
        break;
      }
    }
  }
  return runs;
}

ReplaceFaultRuns expectFailedSavesChangeNothing(const std::vector<std::string>& directories,
                                                const std::function<bool()>& save) {
  return failEachReplaceStep([&](const ReplaceFault& fault) {
    std::vector<std::map<std::string, std::string>> before;
    for (const std::string& dir : directories) before.push_back(filesBelow(dir));
    const bool saved = save();
    EXPECT_EQ(saved, !fault.hit()) << fault;
    if (!fault.hit()) return;
    for (size_t i = 0; i < directories.size(); ++i)
      EXPECT_EQ(filesBelow(directories[i]), before[i]) << fault << " in " << directories[i];
  });
}

std::map<std::string, std::string> filesBelow(const std::string& directory) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = fs::relative(it->path(), directory).string();
    if (it->is_symlink()) {
      files[name] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_regular_file()) {
      std::ifstream in(it->path(), std::ios::binary);
      files[name] = shortForm(std::string(std::istreambuf_iterator<char>(in), {}));
    }
  }
  return files;
}

}  // namespace kalimbro
