// Forms and pop-up lists over the line editor, and the saved screen area
// that lists draw over.
#include "console/vrform.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <variant>

#include "console/VrCrt.h"
#include "console/keys.h"
#include "console/vredit.h"
#include "console/vrfala.h"
#include "console/vrrevisa.h"
#include "platform/eventloop.h"
#include "platform/number_text.h"
#include "platform/text.h"

namespace kalimbro {
namespace {

constexpr int kLabelBackground = 4;
constexpr int kValueBackground = 0;
constexpr int kEditingColour = 14;
constexpr int kItemColour = 15, kCurrentItemColour = 14;
constexpr int kMenuPage = 10;
constexpr size_t kMaxTextValue = 255;
constexpr int kNumberWidth = 10;

uint8_t attributeOf(int foreground, int background) {
  return static_cast<uint8_t>((foreground & 15) | (background & 15) << 4);
}

// ---------------------------------------------------------------- forms

enum class FieldKind { text = 0, integer = 1, real = 4 };

struct FormField {
  std::string soundName;
  std::string label;
  std::string text;
  int width = kNumberWidth;
  FieldKind kind = FieldKind::text;
  std::variant<std::string*, int32_t*, double*> target;
};

struct FormState {
  std::vector<FormField> fields;
  int firstRow = 1;
  int labelWidth = 28;
};

FormState& form() {
  static FormState state;
  return state;
}

// The value of an integer field, held to 32 bits.
int32_t integerValue(std::string_view text) {
  return static_cast<int32_t>(std::clamp<int64_t>(leadingWholeNumber(text), std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

std::string realText(double x, int decimals) {
  char buf[400];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed,
                                       std::clamp(decimals, 0, 20));
  if (ec != std::errc()) return "0";
  return std::string(buf, end);
}

int rowOf(int n, int scroll) { return form().firstRow + n - 1 - scroll; }

int displayWidth(const FormField& f) { return std::max(1, std::min(f.width, 79 - form().labelWidth)); }

// Draws a field's row: the label right-aligned on red, the value after it.
void drawField(const FormField& f, int row, uint8_t normal, bool editing) {
  const int lw = form().labelWidth;
  std::string label = f.label + " ";
  if (static_cast<int>(label.size()) > lw) label = lw > 0 ? label.substr(0, lw - 1) + " " : std::string();
  label.insert(0, static_cast<size_t>(lw) - label.size(), ' ');
  std::string value = f.text;
  value.resize(static_cast<size_t>(displayWidth(f)), ' ');

  gotoXY(1, row);
  setAttribute(attributeOf(normal & 15, kLabelBackground));
  crtWrite(label);
  setAttribute(attributeOf(editing ? kEditingColour : normal & 15, kValueBackground));
  crtWrite(value);
  setAttribute(normal);
  clearToEndOfLine();
}

void drawForm(int scroll, uint8_t normal) {
  const FormState& f = form();
  for (int n = 1; n <= static_cast<int>(f.fields.size()); ++n) {
    const int row = rowOf(n, scroll);
    if (row >= f.firstRow && row <= kScreenRows) drawField(f.fields[n - 1], row, normal, false);
  }
}

// Scrolls the form so that field n is on the screen; redraws when it moved.
void keepOnScreen(int n, int& scroll, uint8_t normal) {
  const int row = rowOf(n, scroll);
  int wanted = scroll;
  if (row > kScreenRows) wanted += row - kScreenRows;
  if (row < form().firstRow) wanted -= form().firstRow - row;
  if (wanted == scroll) return;
  scroll = wanted;
  drawForm(scroll, normal);
}

uint8_t editFormField(int n, bool editable, int scroll, uint8_t normal, bool f1Helps) {
  FormField& f = form().fields[n - 1];
  const int row = rowOf(n, scroll);
  drawField(f, row, normal, true);
  if (!f.soundName.empty() && soundExists(f.soundName))
    speakSound(f.soundName);
  else
    speak(f.label);
  waitSpeechEnd();
  speak(f.text);
  setAttribute(attributeOf(kEditingColour, kValueBackground));
  const uint8_t key =
      editFieldWidth(f.text, form().labelWidth + 1, row, editable, displayWidth(f), f.width, f1Helps);
  setAttribute(normal);
  drawField(f, row, normal, false);
  return key;
}

void writeBack(const FormField& f) {
  if (auto* s = std::get_if<std::string*>(&f.target)) {
    **s = f.text.substr(0, kMaxTextValue);
  } else if (auto* i = std::get_if<int32_t*>(&f.target)) {
    **i = integerValue(f.text);
  } else {
    **std::get_if<double*>(&f.target) = leadingDecimalNumber(f.text);
  }
}

// ---------------------------------------------------------------- pop-up lists

struct MenuItem {
  std::string soundName;
  std::string text;
};

struct MenuState {
  int x = 1, y = 1, width = 1, rows = 1;
  uint8_t background = 0;
  std::vector<MenuItem> items;
  int firstVisible = 1;
  SavedScreenArea saved;
  std::string lastChoice;
};

MenuState& menu() {
  static MenuState state;
  return state;
}

int menuRowOf(int item) { return menu().y + item - menu().firstVisible; }

void drawItem(int item, bool current) {
  const MenuState& m = menu();
  if (item < m.firstVisible || item >= m.firstVisible + m.rows) return;
  const std::string& text = m.items[item - 1].text;
  const int row = menuRowOf(item);
  gotoXY(m.x, row);
  if (current) {
    // The whole text, as far as the screen reaches.
    setAttribute(attributeOf(kCurrentItemColour, m.background));
    crtWrite(std::string_view(text).substr(0, static_cast<size_t>(kScreenColumns - m.x + 1)));
  } else {
    std::string cell = text.substr(0, static_cast<size_t>(m.width));
    cell.resize(static_cast<size_t>(m.width), ' ');
    setAttribute(attributeOf(kItemColour, m.background));
    crtWrite(cell);
    // What a longer current text covered right of the box comes back.
    if (static_cast<int>(text.size()) > m.width) m.saved.restoreCells(m.x + m.width, kScreenColumns, row);
  }
}

void drawItems() {
  const MenuState& m = menu();
  const int count = static_cast<int>(m.items.size());
  for (int i = m.firstVisible; i < m.firstVisible + m.rows && i <= count; ++i) drawItem(i, false);
}

// The first item after `current` whose text, leading blanks aside, begins
// with `key` in either case; 0 when there is none.
int nextItemBeginningWith(int current, uint8_t key) {
  const MenuState& m = menu();
  for (int i = current + 1; i <= static_cast<int>(m.items.size()); ++i) {
    const std::string& t = m.items[i - 1].text;
    const size_t first = t.find_first_not_of(' ');
    if (first != std::string::npos && upperAscii(static_cast<uint8_t>(t[first])) == upperAscii(key)) return i;
  }
  return 0;
}

// Keys that look for an item by its first character: letters, digits,
// * + - / and the control characters.
bool isJumpKey(uint8_t key) {
  const uint8_t c = key >= 'a' && key <= 'z' ? key - 32 : key;
  if (c == 0 || c > 'Z') return false;
  if (c >= kEsc && c <= ')') return false;  // ESC to Control+_, the blank and !"#$%&'()
  if (c == ',' || c == '.') return false;
  if (c >= ':' && c <= '@') return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- screen area

void setAttribute(uint8_t attribute) {
  textColor(attribute & 15);
  textBackground(attribute >> 4);
}

void SavedScreenArea::save(int left, int top, int right, int bottom) {
  left_ = std::clamp(left, 1, kScreenColumns);
  right_ = std::clamp(right, left_ - 1, kScreenColumns);
  top_ = std::clamp(top, 1, kScreenRows);
  bottom_ = std::clamp(bottom, top_ - 1, kScreenRows);
  chars_.clear();
  attrs_.clear();
  for (int y = top_; y <= bottom_; ++y)
    for (int x = left_; x <= right_; ++x) {
      chars_.push_back(screenCharAt(x, y));
      attrs_.push_back(screenAttrAt(x, y));
    }
  attribute_ = currentAttribute();
  cursorX_ = whereX();
  cursorY_ = whereY();
}

uint8_t SavedScreenArea::charAt(int x, int y) const {
  return chars_[static_cast<size_t>((y - top_) * (right_ - left_ + 1) + (x - left_))];
}

uint8_t SavedScreenArea::attrAt(int x, int y) const {
  return attrs_[static_cast<size_t>((y - top_) * (right_ - left_ + 1) + (x - left_))];
}

void SavedScreenArea::restoreCells(int from, int to, int row) const {
  if (row < top_ || row > bottom_) return;
  from = std::max(from, left_);
  to = std::min(to, right_);
  for (int x = from; x <= to;) {
    const uint8_t attr = attrAt(x, row);
    std::string run;
    int end = x;
    for (; end <= to && attrAt(end, row) == attr; ++end) {
      const uint8_t c = charAt(end, row);
      run += static_cast<char>(c < 32 ? ' ' : c);
    }
    gotoXY(x, row);
    setAttribute(attr);
    crtWrite(run);
    x = end;
  }
}

void SavedScreenArea::restore() const {
  for (int y = top_; y <= bottom_; ++y) restoreCells(left_, right_, y);
  setAttribute(attribute_);
  gotoXY(cursorX_, cursorY_);
  crtRepaint();
}

// ---------------------------------------------------------------- forms

void formBegin() {
  form().fields.clear();
  form().firstRow = whereY();
}

void formAddText(std::string_view soundName, std::string_view label, std::string& value, int width) {
  FormField f;
  f.soundName = soundName;
  f.label = label;
  f.text = value.substr(0, kMaxTextValue);
  f.width = std::clamp(width, 1, static_cast<int>(kMaxTextValue));
  f.kind = FieldKind::text;
  f.target = &value;
  form().fields.push_back(std::move(f));
}

void formAddInt(std::string_view soundName, std::string_view label, int32_t& n) {
  FormField f;
  f.soundName = soundName;
  f.label = label;
  f.text = std::to_string(n);
  f.kind = FieldKind::integer;
  f.target = &n;
  form().fields.push_back(std::move(f));
}

void formAddReal(std::string_view soundName, std::string_view label, double& x, int decimals) {
  FormField f;
  f.soundName = soundName;
  f.label = label;
  f.text = realText(x, decimals);
  f.kind = FieldKind::real;
  f.target = &x;
  form().fields.push_back(std::move(f));
}

uint8_t formRun(bool editable, const std::function<void()>& help) {
  FormState& f = form();
  const int count = static_cast<int>(f.fields.size());
  const uint8_t normal = currentAttribute();
  int scroll = 0;
  drawForm(scroll, normal);
  flushKeyboard();

  int n = 1;
  uint8_t code = kEsc;
  for (;;) {
    if (count > 0) keepOnScreen(std::clamp(n, 1, count), scroll, normal);
    if (n >= 1 && n <= count) {
      code = editFormField(n, editable, scroll, normal, static_cast<bool>(help));
      if (help && code == kF1) {
        help();
        continue;
      }
    } else {
      gotoXY(1, n == 0 || count == 0 ? f.firstRow : rowOf(count, scroll));
      beepSound();
      code = readKey();
      if (code == 0) code = readKey();
    }
    if (code == kEsc || code == kPageUp || code == kPageDown) break;
    switch (code) {
      case kTab:
      case kEnter:
      case kDown: ++n; break;
      case kUp: --n; break;
      case kCtrlUp: n = 1; break;
      case kCtrlDown: n = count; break;
      default: break;
    }
    n = std::clamp(n, 0, count + 1);
  }

  for (const FormField& field : f.fields) writeBack(field);
  setAttribute(normal);
  gotoXY(1, std::min(kScreenRows, (count > 0 ? rowOf(count, scroll) : f.firstRow - 1) + 1));
  f.fields.clear();
  return code;
}

int formLabelWidth() { return form().labelWidth; }

void setFormLabelWidth(int columns) { form().labelWidth = std::clamp(columns, 0, 78); }

// ---------------------------------------------------------------- pop-up lists

void menuOpen(int x, int y, int width, int colour, int rows) {
  MenuState& m = menu();
  m.width = std::clamp(width, 1, kScreenColumns);
  m.rows = std::clamp(rows, 1, kScreenRows);
  if (x + m.width > kScreenColumns) x = kScreenColumns - m.width;
  if (y + m.rows > kScreenRows) y = kScreenRows - m.rows + 1;
  m.x = std::max(x, 1);
  m.y = std::max(y, 1);
  m.background = static_cast<uint8_t>(colour & 15);
  m.items.clear();
  m.firstVisible = 1;
  // The current item shows its whole text, so the save reaches the right
  // edge of the screen.
  m.saved.save(m.x, m.y, kScreenColumns, m.y + m.rows - 1);
  textBackground(colour);
}

void menuAddItem(std::string_view soundName, std::string_view text) {
  menu().items.push_back({std::string(soundName), std::string(text)});
}

int menuRun() {
  MenuState& m = menu();
  const int count = static_cast<int>(m.items.size());
  m.lastChoice.clear();
  m.firstVisible = 1;
  int current = 1;
  int chosen = 0;
  if (count > 0) {
    drawItems();
    bool announce = true, spell = false;
    for (;;) {
      if (current < m.firstVisible || current >= m.firstVisible + m.rows) {
        m.firstVisible = current < m.firstVisible ? current : current - m.rows + 1;
        drawItems();
      }
      drawItem(current, true);
      gotoXY(m.x, menuRowOf(current));
      const MenuItem& item = m.items[current - 1];
      if (spell) {
        spellText(item.text);
      } else if (announce) {
        if (!item.soundName.empty() && soundExists(item.soundName))
          speakSound(item.soundName);
        else
          speak(item.text);
      }

      const uint8_t key = readKey();
      stopSpeech();
      const uint8_t ext = key == 0 ? readKey() : 0;
      drawItem(current, false);
      const int before = current;
      int target = current;
      spell = false;
      if (key == 0) {
        switch (ext) {
          case kDown: target = current + 1; break;
          case kUp: target = current - 1; break;
          case kHome:
          case kCtrlPageUp: target = 1; break;
          case kEnd:
          case kCtrlPageDown: target = count; break;
          case kPageUp: target = current - kMenuPage; break;
          case kPageDown: target = current + kMenuPage; break;
          case kRight: spell = true; break;
          case kCtrlF9:
            if (lastKeyModifiers().alt) reviewScreen();
            break;
          default: break;
        }
      } else if (key == kEnter) {
        chosen = current;
        break;
      } else if (key == kEsc) {
        break;
      } else if (key == kCtrlQ) {
        speak(std::to_string(current) + " de " + std::to_string(count));
      } else if (key == kFocusLost) {
        while (!keyPressed()) eventLoop().waitForMessage();
      } else if (isJumpKey(key)) {
        const int found = nextItemBeginningWith(current, key);
        target = found > 0 ? found : count + 1;
      }
      if (target < 1 || target > count) {
        beepSound();
        target = std::clamp(target, 1, count);
      }
      current = target;
      announce = current != before;
    }
  }
  if (chosen > 0) {
    drawItem(chosen, true);
    m.lastChoice = m.items[chosen - 1].text;
  }
  gotoXY(1, std::min(kScreenRows, m.y + count));
  m.saved.restore();
  m.items.clear();
  return chosen;
}

std::string lastChoiceText() { return menu().lastChoice; }

}  // namespace kalimbro
