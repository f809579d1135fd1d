#include "console/vrnum.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <unordered_map>

namespace kalimbro {
namespace {

using Files = std::vector<std::string>;

TEST(NumberWords, SaysSmallNumbersAndHundreds) {
  EXPECT_EQ(numberWords(0), "zero");
  EXPECT_EQ(numberWords(1), "um");
  EXPECT_EQ(numberWords(7), "sete");
  EXPECT_EQ(numberWords(10), "dez");
  EXPECT_EQ(numberWords(15), "quinze");
  EXPECT_EQ(numberWords(16), "dezesseis");
  EXPECT_EQ(numberWords(17), "dezessete");
  EXPECT_EQ(numberWords(20), "vinte");
  EXPECT_EQ(numberWords(21), "vinte e um");
  EXPECT_EQ(numberWords(100), "cem");
  EXPECT_EQ(numberWords(101), "cento e um");
  EXPECT_EQ(numberWords(105), "cento e cinco");
  EXPECT_EQ(numberWords(110), "cento e dez");
  EXPECT_EQ(numberWords(120), "cento e vinte");
  EXPECT_EQ(numberWords(121), "cento e vinte e um");
  EXPECT_EQ(numberWords(200), "duzentos");
  EXPECT_EQ(numberWords(999), "novecentos e noventa e nove");
}

TEST(NumberWords, NamedGroupsKeepTheirTrailingBlank) {
  EXPECT_EQ(numberWords(1000), "mil ");
  EXPECT_EQ(numberWords(2000), "dois mil ");
  EXPECT_EQ(numberWords(21000), "vinte e um mil ");
  EXPECT_EQ(numberWords(100000), "cem mil ");
  EXPECT_EQ(numberWords(1000000), "um milh\xE3o ");
  EXPECT_EQ(numberWords(2000000), "dois milh\xF5" "es ");
  EXPECT_EQ(numberWords(2500000), "dois milh\xF5" "es e quinhentos mil ");
  EXPECT_EQ(numberWords(1000000000), "um bilh\xE3o ");
}

TEST(NumberWords, JoinsTheLastGroupWithE) {
  EXPECT_EQ(numberWords(1001), "mil e um");
  EXPECT_EQ(numberWords(1100), "mil e cem");
  EXPECT_EQ(numberWords(2500), "dois mil e quinhentos");
  EXPECT_EQ(numberWords(123456), "cento e vinte e tres mil e quatrocentos e cinquenta e seis");
  EXPECT_EQ(numberWords(999999), "novecentos e noventa e nove mil e novecentos e noventa e nove");
  EXPECT_EQ(numberWords(1000001), "um milh\xE3o e um");
  // Only the last group gets the "e "; earlier groups simply follow.
  EXPECT_EQ(numberWords(1234567),
            "um milh\xE3o duzentos e trinta e quatro mil e quinhentos e sessenta e sete");
  // "um mil" is dropped only at the very start.
  EXPECT_EQ(numberWords(1001000), "um milh\xE3o e um mil ");
  EXPECT_EQ(numberWords(INT32_MAX),
            "dois bilh\xF5" "es cento e quarenta e sete milh\xF5" "es quatrocentos e oitenta e "
            "tres mil e seiscentos e quarenta e sete");
}

TEST(NumberWords, NegativeHasNoWords) {
  EXPECT_EQ(numberWords(-1), "");
  EXPECT_EQ(numberWords(INT32_MIN), "");
}

// Reads number words back into their value, rejecting anything that is not
// a table word, a group name or a connector in a sensible place.
class WordReader {
 public:
  WordReader() {
    const char* units[] = {"zero", "um", "dois", "tres", "quatro", "cinco", "seis", "sete",
                           "oito", "nove", "dez", "onze", "doze", "treze", "quatorze",
                           "quinze", "dezesseis", "dezessete", "dezoito", "dezenove"};
    for (int i = 0; i < 20; ++i) values_[units[i]] = i;
    const char* tens[] = {"vinte", "trinta", "quarenta", "cinquenta",
                          "sessenta", "setenta", "oitenta", "noventa"};
    for (int i = 0; i < 8; ++i) values_[tens[i]] = (i + 2) * 10;
    const char* hundreds[] = {"cento", "duzentos", "trezentos", "quatrocentos", "quinhentos",
                              "seiscentos", "setecentos", "oitocentos", "novecentos"};
    for (int i = 0; i < 9; ++i) values_[hundreds[i]] = (i + 1) * 100;
    values_["cem"] = 100;
  }

  // The value of `text`, or -1 when it is malformed.
  int64_t read(std::string_view text) const {
    int64_t total = 0, group = 0;
    bool afterE = true;  // nothing may start with "e"
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find(' ', pos);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view word = text.substr(pos, end - pos);
      pos = end + 1;
      if (word == "e") {
        if (afterE) return -1;
        afterE = true;
        continue;
      }
      afterE = false;
      if (auto it = values_.find(word); it != values_.end()) {
        if (it->second == 0 && text != "zero") return -1;
        group += it->second;
      } else if (word == "mil") {
        total += (group == 0 ? 1 : group) * 1000;
        group = 0;
      } else if (word == "milh\xE3o" || word == "bilh\xE3o") {
        if (group != 1) return -1;
        total += word[0] == 'm' ? 1000000 : 1000000000;
        group = 0;
      } else if (word == "milh\xF5" "es" || word == "bilh\xF5" "es") {
        if (group < 2) return -1;
        total += group * (word[0] == 'm' ? 1000000 : 1000000000);
        group = 0;
      } else {
        return -1;
      }
    }
    return afterE ? -1 : total + group;
  }

 private:
  std::unordered_map<std::string_view, int> values_;
};

TEST(NumberWords, EveryNumberUpToAMillionReadsBack) {
  const WordReader reader;
  for (int32_t n = 0; n <= 1000000; ++n) {
    const std::string words = numberWords(n);
    ASSERT_FALSE(words.empty()) << n;
    ASSERT_NE(words.front(), ' ') << n;
    ASSERT_EQ(words.find("  "), std::string::npos) << n;
    // Only a number ending in a named group ends in a blank.
    ASSERT_EQ(words.back() == ' ', n > 0 && n % 1000 == 0) << n;
    ASSERT_EQ(reader.read(words), n) << n << ": " << words;
  }
}

TEST(NumberWords, LargeNumbersReadBack) {
  const WordReader reader;
  for (int64_t n = 1000001; n <= INT32_MAX; n += 999983) {
    const std::string words = numberWords(static_cast<int32_t>(n));
    ASSERT_EQ(words.find("  "), std::string::npos) << n;
    ASSERT_EQ(reader.read(words), n) << n << ": " << words;
  }
  EXPECT_EQ(reader.read(numberWords(INT32_MAX)), INT32_MAX);
}

TEST(NumberWordFiles, NameEachWordByItsFirstSevenLetters) {
  EXPECT_EQ(numberWordFiles(numberWords(123), false),
            (Files{"_cento.wav", "_e.wav", "_vinte.wav", "_e.wav", "_tres.wav"}));
  EXPECT_EQ(numberWordFiles(numberWords(400), false), Files{"_quatroc.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(2000000), false),
            (Files{"_dois.wav", "_milhoes.wav"}));
  EXPECT_EQ(numberWordFiles(numberWords(1000000), false), (Files{"_um.wav", "_milhao.wav"}));
  EXPECT_EQ(numberWordFiles("dois trilh\xF5" "es", false), (Files{"_dois.wav", "_trilhoe.wav"}));
  EXPECT_EQ(numberWordFiles("  cem   mil ", false), (Files{"_cem.wav", "_mil.wav"}));
  EXPECT_TRUE(numberWordFiles("", true).empty());
  EXPECT_TRUE(numberWordFiles("   ", true).empty());
}

TEST(NumberWordFiles, SixteenAndSeventeenHaveTheirOwnFiles) {
  EXPECT_EQ(numberWordFiles(numberWords(16), false), Files{"_dezesse.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(17), false), Files{"_dezeset.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(17), true), Files{"_dezeset.wav"});
}

TEST(NumberWordFiles, EveryWordHasAFileOfItsOwn) {
  // Two different words cut to the same name would play the wrong word.
  std::map<std::string, std::string> wordOfFile;
  for (int32_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 30,
                    40, 50, 60, 70, 80, 90, 100, 101, 200, 300, 400, 500, 600, 700, 800, 900,
                    1000, 1000000, 2000000, 1000000000, 2000000000}) {
    const std::string words = numberWords(n);
    const Files files = numberWordFiles(words, false);
    size_t pos = 0, i = 0;
    while (pos < words.size() && i < files.size()) {
      size_t end = words.find(' ', pos);
      if (end == std::string::npos) end = words.size();
      const std::string word = words.substr(pos, end - pos);
      const auto [it, added] = wordOfFile.emplace(files[i], word);
      EXPECT_EQ(it->second, word) << files[i];
      pos = end + 1;
      ++i;
    }
    EXPECT_EQ(i, files.size()) << words;
  }
  EXPECT_EQ(wordOfFile.size(), 44u);  // 38 table words, "e", "mil", four group names
}

TEST(NumberWordFiles, FeminineChangesOnlyTheLastOneOrTwo) {
  EXPECT_EQ(numberWordFiles(numberWords(1), true), Files{"_uma.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(2), true), Files{"_duas.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(1), false), Files{"_um.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(2), false), Files{"_dois.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(21), true),
            (Files{"_vinte.wav", "_e.wav", "_uma.wav"}));
  EXPECT_EQ(numberWordFiles(numberWords(22), true),
            (Files{"_vinte.wav", "_e.wav", "_duas.wav"}));
  EXPECT_EQ(numberWordFiles(numberWords(200), true), Files{"_duzento.wav"});
  EXPECT_EQ(numberWordFiles(numberWords(21000), true),
            (Files{"_vinte.wav", "_e.wav", "_um.wav", "_mil.wav"}));
  EXPECT_EQ(numberWordFiles("um dois um", true),
            (Files{"_um.wav", "_dois.wav", "_uma.wav"}));
}

TEST(AllNumberWordFiles, ListsEveryFileNumbersAskForOnce) {
  const std::vector<NumberWordFile> all = allNumberWordFiles();
  std::set<std::string> listed;
  for (const NumberWordFile& f : all) {
    EXPECT_TRUE(listed.insert(f.fileName).second) << "twice: " << f.fileName;
    // The word said is the word the file is named after.
    EXPECT_EQ(numberWordFiles(f.word, false), Files{f.fileName}) << f.word;
  }
  auto expectListed = [&listed](const std::string& words) {
    for (bool feminine : {false, true})
      for (const std::string& name : numberWordFiles(words, feminine))
        EXPECT_TRUE(listed.count(name)) << name << " of \"" << words << '"';
  };
  for (int32_t n = 0; n <= 2100; ++n) expectListed(numberWords(n));
  for (int32_t n : {1000000, 2000000, 1000000000, 2000000000, INT32_MAX}) expectListed(numberWords(n));
  // Trillions lie beyond 32 bits but have their files all the same.
  expectListed("um trilh\xE3o");
  expectListed("dois trilh\xF5" "es");
  EXPECT_EQ(all.size(), 48u);  // 44 words of the numbers, two trillion names, "uma", "duas"
}

}  // namespace
}  // namespace kalimbro
