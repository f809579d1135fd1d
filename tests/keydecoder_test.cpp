#include "platform/keydecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kalimbro {
namespace {

// Events written as short words so that expectations read like the keys:
// "Char 13", "Char 8 ^", "Up ^S", "Alt X" ... (^ control, S shift, A alt).
std::string describe(const InputEvent& e) {
  static const char* const kKeyNames[] = {
      "None", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12",
      "Insert", "Delete", "Home", "End", "PageUp", "PageDown", "Up", "Down", "Left", "Right",
      "Character", "Break"};
  std::string mods;
  if (e.mods.ctrl) mods += '^';
  if (e.mods.shift) mods += 'S';
  if (e.mods.alt) mods += 'A';
  std::string s;
  switch (e.kind) {
    case InputEvent::Kind::Char: s = "Char " + std::to_string(e.ch); break;
    case InputEvent::Kind::KeyDown:
      s = kKeyNames[static_cast<int>(e.key)];
      if (e.key == Key::Character) s += std::string(" ") + static_cast<char>(e.ch);
      break;
    case InputEvent::Kind::KeyUp:
      s = std::string("KeyUp ") + kKeyNames[static_cast<int>(e.key)];
      if (e.key == Key::Character) s += std::string(" ") + static_cast<char>(e.ch);
      break;
    case InputEvent::Kind::KeyboardFlags: s = "Flags " + std::to_string(e.ch); break;
    case InputEvent::Kind::MouseLeft: s = "MouseLeft"; break;
    case InputEvent::Kind::MouseRight: s = "MouseRight"; break;
    case InputEvent::Kind::MouseMiddle: s = "MouseMiddle"; break;
    case InputEvent::Kind::WheelUp: s = "WheelUp"; break;
    case InputEvent::Kind::WheelDown: s = "WheelDown"; break;
    case InputEvent::Kind::FocusIn: s = "FocusIn"; break;
    case InputEvent::Kind::FocusOut: s = "FocusOut"; break;
    case InputEvent::Kind::Paste: s = "Paste " + e.text; break;
  }
  return mods.empty() ? s : s + " " + mods;
}

using Words = std::vector<std::string>;

Words describeAll(const std::vector<InputEvent>& events) {
  Words words;
  for (const auto& e : events) words.push_back(describe(e));
  return words;
}

// Everything in one read, then the timeout.
Words decode(std::string_view bytes) {
  KeyDecoder decoder;
  Words words = describeAll(decoder.feed(bytes));
  for (auto& w : describeAll(decoder.flushPending())) words.push_back(w);
  return words;
}

// One byte per read, with no timeout in between.
Words decodeByteByByte(std::string_view bytes) {
  KeyDecoder decoder;
  Words words;
  for (char c : bytes)
    for (auto& w : describeAll(decoder.feed(std::string_view(&c, 1)))) words.push_back(w);
  for (auto& w : describeAll(decoder.flushPending())) words.push_back(w);
  return words;
}

struct Case {
  const char* bytes;
  Words expected;
};

void expectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(decode(c.bytes), c.expected) << "bytes: " << testing::PrintToString(std::string(c.bytes));
    EXPECT_EQ(decodeByteByByte(c.bytes), c.expected)
        << "split bytes: " << testing::PrintToString(std::string(c.bytes));
  }
}

TEST(KeyDecoder, ControlBytes) {
  expectCases({
      {"\x7f", {"Char 8"}},
      {"\x08", {"Char 8 ^"}},
      {"\r", {"Char 13"}},
      {"\t", {"Char 9"}},
      {"\x01\x03\x1a", {"Char 1 ^", "Char 3 ^", "Char 26 ^"}},
      {"\n", {"Char 10 ^"}},
  });
  EXPECT_EQ(decode(std::string_view("\0", 1)), Words{"Char 32 ^"});
}

TEST(KeyDecoder, TextIsConvertedToWindows1252) {
  expectCases({
      {"a Z~", {"Char 97", "Char 32", "Char 90", "Char 126"}},
      // ç ã é
      {"\xC3\xA7\xC3\xA3\xC3\xA9", {"Char 231", "Char 227", "Char 233"}},
      // The euro sign is 0x80 in the code page.
      {"\xE2\x82\xAC", {"Char 128"}},
      // A CJK character and an emoji have no code page form: dropped.
      {"a\xE6\x97\xA5z\xF0\x9F\x98\x80", {"Char 97", "Char 122"}},
      // Malformed UTF-8 never leaks bytes: stray continuation, bad lead,
      // a lead cut short by ASCII.
      {"\x80\xFF" "a\xC3" "b", {"Char 97", "Char 98"}},
  });
  // A character cut short at the end is dropped when the timeout passes.
  EXPECT_EQ(decode("x\xC3"), Words{"Char 120"});
}

TEST(KeyDecoder, LoneEscapeNeedsTheTimeout) {
  KeyDecoder decoder;
  EXPECT_TRUE(decoder.feed("\x1b").empty());
  EXPECT_TRUE(decoder.waitingForMore());
  EXPECT_EQ(describeAll(decoder.flushPending()), Words{"Char 27"});
  EXPECT_FALSE(decoder.waitingForMore());
  // ESC then a letter after the timeout: two separate keys.
  EXPECT_EQ(describeAll(decoder.feed("x")), Words{"Char 120"});

  expectCases({
      {"\x1b\x1b", {"Char 27", "Char 27"}},
      {"\x1b\r", {"Character M ^A"}},
      // ESC with the start of a sequence that never finishes: dropped.
      {"\x1b[1;5", {}},
      // ESC O alone is Alt+Shift+O.
      {"\x1bO", {"Character O A"}},
  });
}

TEST(KeyDecoder, AltCombinations) {
  expectCases({
      {"\x1bx", {"Character X A"}},
      {"\x1bX", {"Character X A"}},
      {"\x1b" "7", {"Character 7 A"}},
      {"\x1b ", {"Character   A"}},
      {"\x1b\x01", {"Character A ^A"}},
      {"\x1b\x7f", {"Char 8 A"}},
      // Alt with punctuation or a non-ASCII letter reaches nothing.
      {"\x1b.a", {"Char 97"}},
      {"\x1b\xC3\xA7" "a", {"Char 97"}},
      // rxvt sends Alt+arrow as ESC before the arrow's sequence.
      {"\x1b\x1b[D", {"Left A"}},
  });
}

TEST(KeyDecoder, CursorAndEditingKeys) {
  expectCases({
      {"\x1b[A\x1b[B\x1b[C\x1b[D", {"Up", "Down", "Right", "Left"}},
      {"\x1bOA\x1bOD", {"Up", "Left"}},
      {"\x1b[1;5A", {"Up ^"}},
      {"\x1b[1;2B", {"Down S"}},
      {"\x1b[1;3C", {"Right A"}},
      {"\x1b[1;8D", {"Left ^SA"}},
      {"\x1b[2~\x1b[3~\x1b[5~\x1b[6~", {"Insert", "Delete", "PageUp", "PageDown"}},
      {"\x1b[2;2~", {"Insert S"}},
      {"\x1b[3;5~", {"Delete ^"}},
      {"\x1b[6;5~", {"PageDown ^"}},
      // Home and End as different terminals send them.
      {"\x1bOH\x1bOF", {"Home", "End"}},
      {"\x1b[H\x1b[F", {"Home", "End"}},
      {"\x1b[1~\x1b[4~", {"Home", "End"}},
      {"\x1b[7~\x1b[8~", {"Home", "End"}},
      {"\x1b[1;5H\x1b[1;5F", {"Home ^", "End ^"}},
      {"\x1b[Z", {"Char 9 S"}},
  });
}

TEST(KeyDecoder, FunctionKeys) {
  expectCases({
      {"\x1bOP\x1bOQ\x1bOR\x1bOS", {"F1", "F2", "F3", "F4"}},
      {"\x1b[1;5P\x1b[1;2S", {"F1 ^", "F4 S"}},
      {"\x1b[15~\x1b[17~\x1b[18~\x1b[19~", {"F5", "F6", "F7", "F8"}},
      {"\x1b[20~\x1b[21~\x1b[23~\x1b[24~", {"F9", "F10", "F11", "F12"}},
      {"\x1b[23;7~\x1b[24;7~", {"F11 ^A", "F12 ^A"}},
      {"\x1b[15;5~", {"F5 ^"}},
      // Linux text console.
      {"\x1b[[A\x1b[[B\x1b[[C\x1b[[D\x1b[[E", {"F1", "F2", "F3", "F4", "F5"}},
      // Old xterm / rxvt forms.
      {"\x1b[11~\x1b[14~", {"F1", "F4"}},
      {"\x1bO5P", {"F1 ^"}},
  });
}

TEST(KeyDecoder, ModifyOtherKeys) {
  expectCases({
      {"\x1b[27;5;13~", {"Char 13 ^"}},
      {"\x1b[27;5;127~", {"Char 8 ^"}},
      {"\x1b[27;2;9~", {"Char 9 S"}},
      {"\x1b[27;5;97~", {"Char 1 ^"}},
      {"\x1b[27;3;97~", {"Character A A"}},
      {"\x1b[13;5u", {"Char 13 ^"}},
      {"\x1b[231u", {"Char 231"}},  // ç
      {"\x1b[57358u", {}},          // a key with no character (Caps Lock)
  });
}

TEST(KeyDecoder, KittyKeysWithPressAndRelease) {
  expectCases({
      {"\x1b[?27u", {"Flags 27"}},
      // Every key as an escape code: letters and the space bar are keys
      // with a press and a release, and type their text.
      {"\x1b[102u\x1b[32;1:1u\x1b[102;1:3u\x1b[32;1:3u",
       {"Character F", "Char 102", "Character  ", "Char 32", "KeyUp Character F", "KeyUp Character  "}},
      {"\x1b[97;2;65u\x1b[49;2:2;33u", {"Character A S", "Char 65 S", "Character 1 S", "Char 33 S"}},
      {"\x1b[231;1;231u\x1b[59;1:3u", {"Char 231", "KeyUp None"}},
      {"\x1b[13u\x1b[27;1:3u\x1b[92;5u", {"Char 13", "KeyUp None", "Char 28 ^"}},
      {"\x1b[114;7u\x1b[114;7:3u", {"Character R ^A", "KeyUp Character R ^A"}},
      // Other keys with the event after their modifiers.
      {"\x1b[1;1:2A\x1b[1;5:3A\x1b[3;1:3~\x1b[1;1:3P", {"Up", "KeyUp Up ^", "KeyUp Delete", "KeyUp F1"}},
      {"\x1b[57414u\x1b[57419;1:3u\x1b[57401u\x1b[57401;129;50u",
       {"Char 13", "KeyUp Up", "Char 50", "Char 50"}},
  });
}

TEST(KeyDecoder, Mouse) {
  expectCases({
      {"\x1b[<0;10;5M\x1b[<0;10;5m", {"MouseLeft"}},
      {"\x1b[<2;1;1M\x1b[<2;1;1m", {"MouseRight"}},
      {"\x1b[<1;80;25M", {"MouseMiddle"}},
      {"\x1b[<64;3;3M\x1b[<65;3;3M", {"WheelUp", "WheelDown"}},
      {"\x1b[<16;3;3M", {"MouseLeft ^"}},
      // Motion with a button held, horizontal wheel: nothing.
      {"\x1b[<32;4;4M\x1b[<66;3;3M", {}},
      // Old X10 reports carry raw bytes that must not leak as keys.
      {"\x1b[M !!\x1b[M#!!\x1b[M`!!", {"MouseLeft", "WheelUp"}},
  });
}

TEST(KeyDecoder, FocusReports) {
  expectCases({{"\x1b[I\x1b[O", {"FocusIn", "FocusOut"}}});
}

TEST(KeyDecoder, BracketedPasteIsOneEventInWindows1252) {
  expectCases({
      {"\x1b[200~Ol\xC3\xA1, cora\xC3\xA7\xC3\xA3o\r\x1b[A\x1b[201~x",
       {"Paste Ol\xE1, cora\xE7\xE3o\r\x1b[A", "Char 120"}},
      {"\x1b[200~\xE6\x97\xA5\x1b[201~", {"Paste ?"}},
      {"\x1b[200~\x1b[201~", {"Paste "}},
      // A stray end marker is ignored.
      {"\x1b[201~a", {"Char 97"}},
  });
  // A paste in progress does not time out.
  KeyDecoder decoder;
  EXPECT_TRUE(decoder.feed("\x1b[200~abc\x1b[20").empty());
  EXPECT_FALSE(decoder.waitingForMore());
  EXPECT_TRUE(decoder.flushPending().empty());
  EXPECT_EQ(describeAll(decoder.feed("1~")), Words{"Paste abc"});
}

TEST(KeyDecoder, UnknownSequencesAreSwallowedWhole) {
  expectCases({
      {"\x1b[99~a", {"Char 97"}},
      {"\x1b[?1;2c" "b", {"Char 98"}},          // a device attributes reply
      {"\x1b[12;40R" "c", {"Char 99"}},         // a cursor position report
      {"\x1b[1;5X" "d", {"Char 100"}},
      {"\x1b[ q" "e", {"Char 101"}},            // an intermediate byte
      {"\x1b[[Z" "f", {"Char 102"}},
      {"\x1bOz" "g", {"Char 103"}},
      // A control byte inside a sequence ends it; the byte counts alone.
      {"\x1b[1;\r", {"Char 13"}},
      // A sequence that never ends is dropped once it is too long.
      {"\x1b[111111111111111111111111111111111111111111111111111111111111111111111111hi",
       {"Char 105"}},
  });
}

TEST(KeyDecoder, OnlyTheLoneEscapeWaits) {
  KeyDecoder decoder;
  EXPECT_EQ(describeAll(decoder.feed("\x1b[1;")), Words{});
  EXPECT_TRUE(decoder.waitingForMore());
  EXPECT_EQ(describeAll(decoder.feed("5A\x1b")), Words{"Up ^"});
  EXPECT_TRUE(decoder.waitingForMore());
  EXPECT_EQ(describeAll(decoder.feed("q")), Words{"Character Q A"});
  EXPECT_FALSE(decoder.waitingForMore());
}


// However the bytes are cut into reads, the keys are the same.
TEST(KeyDecoder, SplitsNeverChangeTheResult) {
  const char* const pieces[] = {
      "\x1b", "[", "O", "1", ";", "5", "~", "A", "<", "M", "m", "200~", "201~", "\xC3", "\xA7",
      "\xE2\x82", "\xAC", "x", "\r", "\x7f", "\x08", "27;5;13~", "[", "I", "\x01", " "};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int round = 0; round < 500; ++round) {
    std::string bytes;
    const int count = 1 + next() % 30;
    for (int i = 0; i < count; ++i) bytes += pieces[next() % std::size(pieces)];

    KeyDecoder whole;
    const Words expected = describeAll(whole.feed(bytes));
    KeyDecoder split;
    Words got;
    for (size_t pos = 0; pos < bytes.size();) {
      const size_t len = std::min<size_t>(1 + next() % 5, bytes.size() - pos);
      for (auto& w : describeAll(split.feed(std::string_view(bytes).substr(pos, len)))) got.push_back(w);
      pos += len;
    }
    ASSERT_EQ(got, expected) << testing::PrintToString(bytes);
    // Both are left waiting for the same thing.
    ASSERT_EQ(describeAll(split.flushPending()), describeAll(whole.flushPending()));
  }
}

}  // namespace
}  // namespace kalimbro
