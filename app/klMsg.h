// klMsg: the message catalogue. Every fixed thing the program says has a
// key ("KL..."); the text is written to the screen and heard, from the
// recording named after the key when there is one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kalimbro {

struct MessageRow {
  std::string_view key;
  std::string_view text;  // Windows-1252
};

// Every row of the catalogue, in its fixed order.
std::span<const MessageRow> messageCatalogue();

// The text of `key` (exact, case-sensitive), or "--> Mensagem inválida: "
// followed by the key.
std::string messageText(std::string_view key);

// Writes the text followed by `lineEnds` line ends (nothing when negative),
// then plays the key's recording or speaks the text.
void sayMessage(std::string_view key, int lineEnds);
// Says a question (no line end), reads its one-key answer (echoed; an
// extended key is no answer) and ends the line. F1 says `helpKey`'s text,
// what the answers are, and the question is asked again.
uint8_t askKey(std::string_view questionKey, std::string_view helpKey);

// F1's answer at a question: its help, then the question again, each on a
// line of its own.
void explainQuestion(std::string_view helpKey, std::string_view questionKey);

// F1 in a form's field: how to move between the fields and end, said
// without writing over the form.
void explainForm();

// How a one-key answer shows: echoed after the question, or said at once,
// cutting the question short.
enum class AnswerEcho { shown, spoken };
// Reads the one-key answer to the question `questionKey` just said. F1
// explains it (explainQuestion) and waits on; any other extended key is no
// answer.
uint8_t readAnswer(std::string_view questionKey, std::string_view helpKey, AnswerEcho echo);

// Where a typed answer is read: after the question, or on the line under
// it (the questions that say a name).
enum class AnswerAt { sameLine, lineBelow };
// Asks for a value typed on a line: the question, then `shownDefault`
// (the value Enter takes, when there is one) after it. The typed text
// (empty: Enter alone, the default) comes back; ESC gives up: "Desistiu..."
// is said and nothing comes back. F1 says `helpKey`'s text and asks again.
std::optional<std::string> askValue(std::string_view questionKey, std::string_view helpKey,
                                    AnswerAt at = AnswerAt::sameLine, std::string_view shownDefault = {});

// ---- Menus --------------------------------------------------------------------

// One option of a menu: the key that chooses it and the catalogue text that
// the help says and the pop-up list shows.
struct MenuOption {
  uint8_t key;  // upper case, a sign, or a Control key's byte
  std::string_view textKey;
  bool listed = true;  // in the pop-up list
  bool inHelp = true;  // a line of F1's help
};

// A menu: its question and options, in the order of the help and the list,
// and the few ways two menus look different.
struct Menu {
  std::string_view questionKey;
  std::span<const MenuOption> options;
  int listWidth = 0;              // at least; a longer text widens the list
  bool menuSound = false;         // KLMENU is heard before the help and the list
  int helpTitleLineEnds = 1;      // after "As opções são :"
  void (*beforeQuestion)() = nullptr;
  void (*whileWaiting)() = nullptr;  // between the question and its key
};

// What a menu's question got: an option's key (upper case) or ESC, typed
// or chosen from the list; or key 0 and an extended key that is neither F1
// nor an arrow.
struct MenuKey {
  uint8_t key = 0;
  uint8_t extended = 0;
};

// Says the question (on blue) and reads its key, echoed; the keys typed
// before it are dropped. F1 says the help and Up or Down open the pop-up
// list of the options; a key that is no option is told invalid. Each of
// these asks again.
MenuKey askMenu(const Menu& menu);

}  // namespace kalimbro
