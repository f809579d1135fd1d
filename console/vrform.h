// vrform: forms of labelled fields and pop-up lists. A form stacks fields
// (text, integer, real) under each other and lets the user move between
// them with the line editor; a pop-up list shows items in a box and speaks
// each one as the user moves to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalimbro {

// Forms. Each field names its recording (soundName) and shows `label`; the
// caller's variable is written back however the form ends.
void formBegin();
void formAddText(std::string_view soundName, std::string_view label, std::string& value, int width);
void formAddInt(std::string_view soundName, std::string_view label, int32_t& n);
void formAddReal(std::string_view soundName, std::string_view label, double& x, int decimals);
// Returns 27 (ESC), 73 (Page Up) or 81 (Page Down).
uint8_t formRun(bool editable);
int formLabelWidth();
// Columns given to the labels from now on, this form and later ones.
void setFormLabelWidth(int columns);

// Pop-up lists.
void menuOpen(int x, int y, int width, int colour, int rows);
void menuAddItem(std::string_view soundName, std::string_view text);
// The chosen item's number (1-based, in order of adding), or 0 after ESC.
int menuRun();
std::string lastChoiceText();

}  // namespace kalimbro
