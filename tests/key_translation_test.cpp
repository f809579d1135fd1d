#include "console/key_translation.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fakes/key_script.h"

namespace kalimbro {
namespace {

using Kind = KeyAction::Kind;

// The bytes an event puts in the queue; empty when it queues nothing.
std::string queued(const InputEvent& event, bool chordsFromKeys = false) {
  const KeyAction action = translateKey(event, chordsFromKeys);
  if (action.kind == Kind::queueByte) return std::string(1, static_cast<char>(action.code));
  if (action.kind == Kind::queueExtended) return std::string{'\0', static_cast<char>(action.code)};
  return {};
}

std::string queued(std::initializer_list<InputEvent> events) {
  std::string bytes;
  for (const InputEvent& e : events) bytes += queued(e);
  return bytes;
}

TEST(KeyTranslation, ExtendedKeysUseTheTable) {
  EXPECT_EQ(queued({keyDown(Key::F11), keyDown(Key::Up, kCtrl), keyDown(Key::Insert, kShift),
                    keyDown(Key::Insert, kCtrl), keyDown(Key::PageUp, kCtrl), keyDown(Key::Delete, kShift)}),
            std::string("\0\x45\0\x71\0\xFE\0\xFF\0\x84\0\x53", 12));
}

TEST(KeyTranslation, ControlChangesBackspaceAndEnter) {
  EXPECT_EQ(queued({charEvent(8, kCtrl), charEvent(8), charEvent(13, kCtrl), charEvent(13), charEvent(3, kCtrl)}),
            "\x7F\x08\x0A\x0D\x03");
}

TEST(KeyTranslation, AltKeysNeedControlExceptLeftAndRight) {
  EXPECT_EQ(queued({keyDownChar('Q', kAlt), keyDown(Key::Up, kAlt), charEvent('.', kAlt), keyDown(Key::F10),
                    keyDown(Key::F10, kCtrl)}),
            "");
  EXPECT_EQ(queued({keyDownChar('Q', kCtrlAlt), keyDownChar('z', kCtrlAlt), keyDownChar('1', kCtrlAlt),
                    keyDownChar('0', kCtrlAlt), keyDown(Key::Left, kAlt), keyDown(Key::F9, kCtrlAlt)}),
            std::string("\0\x10\0\x2C\0\x78\0\x81\0\x4B\0\x66", 12));
}

TEST(KeyTranslation, OnlyControlBreakEndsTheProgram) {
  EXPECT_EQ(translateKey(keyDown(Key::Break, kCtrl), false).kind, Kind::closeConsole);
  EXPECT_EQ(translateKey(keyDown(Key::Break), false).kind, Kind::ignore);
  EXPECT_EQ(translateKey(keyDown(Key::Break, kShift), false).kind, Kind::ignore);
}

TEST(KeyTranslation, LettersAndTheSpaceBarMakeChordsOnlyWhenEveryKeyIsReported) {
  // Typed as text they are ignored; digits and signs still type.
  EXPECT_EQ(queued(charEvent('f'), true), "");
  EXPECT_EQ(queued(charEvent(' '), true), "");
  EXPECT_EQ(queued(charEvent('1'), true), "1");
  EXPECT_EQ(queued(charEvent('f'), false), "f");

  EXPECT_EQ(translateKey(keyDownChar('F'), true), (KeyAction{Kind::chordPress, 1}));
  EXPECT_EQ(translateKey(keyDownChar(' '), true), (KeyAction{Kind::chordPress, 64}));
  EXPECT_EQ(translateKey(keyDownChar('A'), true).kind, Kind::ignore);  // no dot key
  EXPECT_EQ(translateKey(keyDownChar('F', kCtrl), true).kind, Kind::ignore);
  EXPECT_EQ(translateKey(keyDownChar('F'), false).kind, Kind::ignore);

  // Releases: a letter (dot key or not) or the space bar ends its part of
  // a chord; any other key, or one held with Control, ends the signs.
  EXPECT_EQ(translateKey(keyUpChar('D'), true), (KeyAction{Kind::chordRelease, 2}));
  EXPECT_EQ(translateKey(keyUpChar('A'), true), (KeyAction{Kind::chordRelease, 0}));
  EXPECT_EQ(translateKey(keyUpChar('D', kCtrl), true).kind, Kind::otherRelease);
  EXPECT_EQ(translateKey(keyUpChar('5'), true).kind, Kind::otherRelease);
}

}  // namespace
}  // namespace kalimbro
