// Stand-ins for the line editor, the forms and pop-up lists and the file
// selector while those units are not in the tree yet, so that the commands
// that call them can be tested with scripted keys. Every definition is weak:
// once the real unit is linked its definitions win and these fall away
// (delete this file then). They read the same keys as the real units do:
// text then Enter, ESC to give up, Down/Up and Enter in a list.
#include <string>
#include <string_view>
#include <vector>

#include "console/VrCrt.h"
#include "console/vrarq.h"
#include "console/vredit.h"
#include "console/vrform.h"

namespace kalimbro {
namespace {

constexpr uint8_t kEnter = 13, kEsc = 27, kBackspace = 8;

// Reads a line at the cursor; false when it ended with ESC.
bool typedLine(std::string& text) {
  text.clear();
  for (;;) {
    const uint8_t key = readKey();
    if (key == 0) {
      readKey();
    } else if (key == kEnter) {
      return true;
    } else if (key == kEsc) {
      text.clear();
      return false;
    } else if (key == kBackspace) {
      if (!text.empty()) text.pop_back();
    } else if (key >= 32) {
      text += static_cast<char>(key);
      crtWrite(std::string_view(&text.back(), 1));
    }
  }
}

std::string trimmed(const std::string& t) {
  const size_t a = t.find_first_not_of(' ');
  if (a == std::string::npos) return {};
  return t.substr(a, t.find_last_not_of(' ') - a + 1);
}

uint8_t exitKey = kEnter;
int labelWidth = 28;

struct Field {
  double* target;
};
std::vector<Field> fields;

int menuItems = 0;

}  // namespace

[[gnu::weak]] void readLine(std::string& text) {
  typedLine(text);
  crtWriteln();
}

[[gnu::weak]] void readInt(int64_t& n) {
  std::string text;
  typedLine(text);
  crtWriteln();
  text = trimmed(text);
  if (text.empty()) return;
  size_t i = 0;
  const bool negative = text[0] == '-';
  if (text[0] == '-' || text[0] == '+') i = 1;
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = v * 10 + (text[i] - '0');
  n = negative ? -v : v;
}

[[gnu::weak]] void selectFile(int, std::string_view, std::string& result) {
  exitKey = typedLine(result) ? kEnter : kEsc;
}

[[gnu::weak]] uint8_t selectorExitKey() { return exitKey; }

[[gnu::weak]] void formBegin() { fields.clear(); }

[[gnu::weak]] void formAddReal(std::string_view, std::string_view, double& x, int) {
  fields.push_back({&x});
}

// Each field takes a line (an empty one keeps the value); then one more
// key ends the form, as below the last field.
[[gnu::weak]] uint8_t formRun(bool) {
  for (const Field& f : fields) {
    std::string text;
    if (!typedLine(text)) return kEsc;
    if (const std::string t = trimmed(text); !t.empty()) {
      std::string dotted = t;
      if (const size_t comma = dotted.find(','); comma != std::string::npos) dotted[comma] = '.';
      *f.target = std::stod(dotted);
    }
  }
  const uint8_t key = readKey();
  return key == 0 ? readKey() : key;
}

[[gnu::weak]] int formLabelWidth() { return labelWidth; }
[[gnu::weak]] void setFormLabelWidth(int columns) { labelWidth = columns; }

[[gnu::weak]] void menuOpen(int, int, int, int, int) { menuItems = 0; }
[[gnu::weak]] void menuAddItem(std::string_view, std::string_view) { ++menuItems; }

[[gnu::weak]] int menuRun() {
  constexpr uint8_t kUp = 72, kDown = 80;
  int current = 1;
  for (;;) {
    const uint8_t key = readKey();
    if (key == kEnter) return current;
    if (key == kEsc) return 0;
    if (key == 0) {
      const uint8_t code = readKey();
      if (code == kDown && current < menuItems) ++current;
      if (code == kUp && current > 1) --current;
    }
  }
}

}  // namespace kalimbro
