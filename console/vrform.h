// vrform: forms of labelled fields and pop-up lists. A form stacks fields
// (text, integer, real) under each other and lets the user move between
// them with the line editor; a pop-up list shows items in a box and speaks
// each one as the user moves to it. The file selector (vrarq) borrows the
// saved screen area that lists draw over.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kalimbro {

// Forms. Each field names its recording (soundName) and shows `label`; the
// caller's variable is written back however the form ends. The variables
// must outlive the formRun that follows.
void formBegin();
void formAddText(std::string_view soundName, std::string_view label, std::string& value, int width);
void formAddInt(std::string_view soundName, std::string_view label, int32_t& n);
void formAddReal(std::string_view soundName, std::string_view label, double& x, int decimals);
// Returns 27 (ESC), 73 (Page Up) or 81 (Page Down). F1 in a field calls
// `help`, when given, and the field is edited again.
uint8_t formRun(bool editable, const std::function<void()>& help = {});
// Columns given to the labels (28 at start); a change stays for later forms.
int formLabelWidth();
void setFormLabelWidth(int columns);

// Pop-up lists.
void menuOpen(int x, int y, int width, int colour, int rows);
void menuAddItem(std::string_view soundName, std::string_view text);
// The chosen item's number (1-based, in order of adding), or 0 after ESC.
int menuRun();
std::string lastChoiceText();

// The cells and attributes of a screen rectangle, with the current
// attribute and the cursor, kept while something is drawn over them.
class SavedScreenArea {
 public:
  // Columns left..right and rows top..bottom, clamped into the screen.
  void save(int left, int top, int right, int bottom);
  // Writes the cells back run by run of equal attributes, then restores
  // the attribute and the cursor and repaints the window.
  void restore() const;
  // Writes back the saved cells of columns from..to of one row.
  void restoreCells(int from, int to, int row) const;
  // The saved character and attribute of a cell inside the rectangle.
  uint8_t charAt(int x, int y) const;
  uint8_t attrAt(int x, int y) const;

 private:
  int left_ = 1, top_ = 1, right_ = 0, bottom_ = 0;
  std::vector<uint8_t> chars_, attrs_;
  uint8_t attribute_ = 0;
  int cursorX_ = 1, cursorY_ = 1;
};

// Makes `attribute` (background in the high four bits) the current one.
void setAttribute(uint8_t attribute);

}  // namespace kalimbro
