// vrnum: Portuguese number words and the word files that say them.
#include "console/vrnum.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "console/vrfala.h"
#include "platform/paths.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

// Word files are named after these words, so they are plain ASCII.
constexpr std::string_view kUnits[10] = {"zero", "um",   "dois", "tres", "quatro",
                                         "cinco", "seis", "sete", "oito", "nove"};
constexpr std::string_view kTenToNineteen[10] = {
    "dez",    "onze",      "doze",      "treze",   "quatorze",
    "quinze", "dezesseis", "dezessete", "dezoito", "dezenove"};
constexpr std::string_view kTens[10] = {"",         "",        "vinte",   "trinta",
                                        "quarenta", "cinquenta", "sessenta", "setenta",
                                        "oitenta",  "noventa"};
// Entry 0 is the word of exactly one hundred; 1 starts "cento e ...".
constexpr std::string_view kHundreds[10] = {
    "cem",          "cento",      "duzentos",   "trezentos",  "quatrocentos",
    "quinhentos",   "seiscentos", "setecentos", "oitocentos", "novecentos"};

struct GroupName {
  std::string_view singular;  // the group is exactly 001
  std::string_view plural;
};

// The five groups of three digits, highest first; the units group has no
// name. Each name carries its trailing blank.
constexpr int kGroups = 5;
constexpr GroupName kGroupNames[kGroups] = {
    {"trilh\xE3o ", "trilh\xF5" "es "},
    {"bilh\xE3o ", "bilh\xF5" "es "},
    {"milh\xE3o ", "milh\xF5" "es "},
    {"mil ", "mil "},
    {"", ""},
};

// The words of one group of three digits (0..999); empty for 000.
std::string groupWords(int group) {
  const int d1 = group / 100, d2 = group / 10 % 10, d3 = group % 10;
  if (group == 0) return {};
  if (group == 100) return std::string(kHundreds[0]);
  std::string words;
  if (d1 != 0) {
    words += kHundreds[d1];
    if (d2 == 0 && d3 == 0) return words;
    words += " e ";
  }
  if (d2 == 1) return words += kTenToNineteen[d3];
  if (d2 != 0) {
    words += kTens[d2];
    if (d3 == 0) return words;
    words += " e ";
  }
  if (d3 != 0) words += kUnits[d3];
  return words;
}

}  // namespace

std::string numberWords(int32_t n) {
  if (n < 0) return {};
  if (n == 0) return std::string(kUnits[0]);

  std::string texts[kGroups];
  int64_t rest = n;
  for (int i = kGroups - 1; i >= 0; --i, rest /= 1000) {
    const int digits = static_cast<int>(rest % 1000);
    texts[i] = groupWords(digits);
    if (!texts[i].empty() && !kGroupNames[i].singular.empty()) {
      texts[i] += ' ';
      texts[i] += digits == 1 ? kGroupNames[i].singular : kGroupNames[i].plural;
    }
  }

  int last = kGroups - 1;
  while (texts[last].empty()) --last;  // n > 0: some group has words
  std::string words;
  for (int i = 0; i <= last; ++i) {
    // The last group is joined with "e " when anything comes before it.
    if (i == last && !words.empty()) words += "e ";
    words += texts[i];
  }

  // One thousand is "mil", not "um mil"; one million stays "um milhão".
  if (words.starts_with("um mil") && !words.starts_with("um milh")) words.erase(0, 3);
  return words;
}

std::vector<std::string> numberWordFiles(std::string_view text, bool feminine) {
  constexpr size_t kNameLength = 8;  // "_" and seven characters of the word
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ') {
      ++pos;
      continue;
    }
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string word(text.substr(pos, end - pos));
    pos = end;
    for (char& c : word) {
      if (c == '\xE3') c = 'a';
      if (c == '\xF5') c = 'o';
    }
    // 16 and 17 would both cut to "_dezesse".
    if (word == "dezessete") word = "dezeset";
    names.push_back(("_" + word).substr(0, kNameLength));
  }
  if (feminine && !names.empty()) {
    if (names.back() == "_um") names.back() = "_uma";
    if (names.back() == "_dois") names.back() = "_duas";
  }
  for (std::string& name : names) name += ".wav";
  return names;
}

namespace {

constexpr size_t kWordDataLimit = 30000;
constexpr uint32_t kWordRate = 11025;

// A word file open for reading, closed on every way out.
class WordFile {
 public:
  explicit WordFile(const std::string& path)
      : fd_(::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~WordFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  WordFile(const WordFile&) = delete;
  WordFile& operator=(const WordFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // The bytes after the header, at most `limit` of them.
  uint64_t dataSize(uint64_t limit) const {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end <= static_cast<off_t>(kWavHeaderBytes)) return 0;
    return std::min<uint64_t>(static_cast<uint64_t>(end) - kWavHeaderBytes, limit);
  }
  // Reads the data into `into`; the bytes actually read.
  size_t readData(uint8_t* into, size_t size) const {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pread(fd_, into + done, size - done,
                                static_cast<off_t>(kWavHeaderBytes + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

 private:
  int fd_;
};

// Plays the gathered bytes of the work area as one image and waits.
void playGathered(std::vector<uint8_t>& area, size_t& gathered) {
  if (gathered == 0) return;
  fillWavHeader(std::span<uint8_t, kWavHeaderBytes>(area.data(), kWavHeaderBytes),
                static_cast<uint32_t>(gathered), kWordRate, 1, 8);
  speechPlayer().playImage(std::span<const uint8_t>(area.data(), kWavHeaderBytes + gathered));
  waitSpeechEnd();
  gathered = 0;
}

}  // namespace

void speakNumberWords(std::string_view text, bool feminine) {
  std::vector<uint8_t> area(kWavHeaderBytes + kWordDataLimit);
  size_t gathered = 0;
  const std::string letters = speechLettersDir();
  for (const std::string& name : numberWordFiles(text, feminine)) {
    const WordFile file(letters + name);
    if (!file.isOpen()) continue;
    const size_t size = static_cast<size_t>(file.dataSize(kWordDataLimit));
    if (gathered + size > kWordDataLimit) playGathered(area, gathered);
    gathered += file.readData(area.data() + kWavHeaderBytes + gathered, size);
  }
  playGathered(area, gathered);
}

std::vector<NumberWordFile> allNumberWordFiles() {
  std::vector<NumberWordFile> files;
  auto add = [&files](std::string_view word, bool feminine) {
    std::string trimmed(word);
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
    if (trimmed.empty()) return;
    const std::string name = numberWordFiles(trimmed, feminine).front();
    for (const NumberWordFile& f : files)
      if (f.fileName == name) return;
    // The feminine files say the feminine word, not the table's one.
    if (name == "_uma.wav") trimmed = "uma";
    if (name == "_duas.wav") trimmed = "duas";
    files.push_back({name, trimmed});
  };
  for (std::string_view w : kUnits) add(w, false);
  for (std::string_view w : kTenToNineteen) add(w, false);
  for (std::string_view w : kTens) add(w, false);
  for (std::string_view w : kHundreds) add(w, false);
  for (const GroupName& g : kGroupNames) {
    add(g.singular, false);
    add(g.plural, false);
  }
  add("e", false);
  add(kUnits[1], true);
  add(kUnits[2], true);
  return files;
}

}  // namespace kalimbro
