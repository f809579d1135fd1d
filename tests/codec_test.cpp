#include "platform/codec.h"

#include <gtest/gtest.h>

namespace kalimbro {
namespace {

TEST(Codec, AccentedLettersRoundTrip) {
  const std::string cp1252 = "Op\xE7\xE3o inv\xE1lida";  // "Opção inválida"
  EXPECT_EQ(toUtf8(cp1252), "Op\xC3\xA7\xC3\xA3o inv\xC3\xA1lida");
  EXPECT_EQ(fromUtf8(toUtf8(cp1252)), cp1252);
}

TEST(Codec, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(fromUtf8(toUtf8(all)), all);
}

TEST(Codec, HighControlRangeUsesTheCodePageCharacters) {
  EXPECT_EQ(toUtf8("\x80"), "\xE2\x82\xAC");          // euro sign
  EXPECT_EQ(fromUtf8("\xE2\x80\x9C"), "\x93");        // left double quote
  EXPECT_EQ(cp1252ToCodePoint(0x9F), U'\u0178');
}

TEST(Codec, UnmappableAndMalformedInputBecomesReplacement) {
  EXPECT_EQ(fromUtf8("a\xE6\x97\xA5z"), "a?z");       // a CJK character
  EXPECT_EQ(fromUtf8("a\xC3"), "a?");                 // truncated sequence
  EXPECT_EQ(fromUtf8("\xC0\xAF"), "??");              // overlong slash
  EXPECT_EQ(fromUtf8("\xED\xA0\x80", '_'), "___");    // surrogate
  EXPECT_FALSE(utf8FitsCp1252("\xE6\x97\xA5"));
  EXPECT_TRUE(utf8FitsCp1252("S\xC3\xA3o Paulo \xE2\x82\xAC"));
  EXPECT_TRUE(isValidUtf8("a\xE6\x97\xA5z"));
  EXPECT_FALSE(isValidUtf8("Op\xE7\xE3o"));  // Windows-1252 bytes
  std::string out;
  appendUtf8(out, 0xD800);                     // a lone surrogate
  EXPECT_EQ(out, "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kalimbro
