#include "app/klMsg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "console/VrCrt.h"

namespace kalimbro {
namespace {

TEST(MessageCatalogue, HasEveryMessageOnceUnderAnUpperCaseKlKey) {
  const auto rows = messageCatalogue();
  std::set<std::string_view> keys;
  for (const MessageRow& row : rows) {
    EXPECT_TRUE(keys.insert(row.key).second) << "duplicate key " << row.key;
    EXPECT_TRUE(row.key.starts_with("KL")) << row.key;
    for (char c : row.key) {
      EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') << row.key;
    }
    EXPECT_FALSE(row.text.empty()) << row.key;
    EXPECT_EQ(messageText(row.key), row.text) << row.key;
  }
  EXPECT_EQ(rows.front().key, "KLINIC");
  EXPECT_EQ(rows[156].key, "KLFADEINA");
}

TEST(MessageCatalogue, TextsAreWindows1252WithTheirBlanks) {
  EXPECT_EQ(messageText("KLOK"), "Ok");
  EXPECT_EQ(messageText("KLOPMG"), "Gravador, qual sua op\xE7\xE3o? ");
  EXPECT_EQ(messageText("KLINFO"), "I - Informa\xE7\xF5" "es");
  EXPECT_EQ(messageText("KLRADTLF"), "Qualidade CD, r\xE1" "dio ou telefone? ");
  EXPECT_EQ(messageText("KLFALMEM"), "N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o");
  EXPECT_EQ(messageText("KLNDIV"), "N\xE2o posso dividir arquivos MP3, apenas WAV");
  EXPECT_EQ(messageText("KLFATORI"), "Percentual do som original, sugiro 70:   ");
  EXPECT_EQ(messageText("KLFATMIS"), "Percentual do som a misturar, sugiro 30: ");
  EXPECT_EQ(messageText("KLPONFIN"), "Informe em segundos o ponto final  : ");
  EXPECT_EQ(messageText("KLPITCH"), "F - Alterar frequ\xEAncia");
  EXPECT_EQ(messageText("KLI16BIT"), "16 Bits ");
  EXPECT_EQ(messageText("KLASOPC"), "As op\xE7\xF5" "es s\xE3o :");
  EXPECT_EQ(messageText("KL40HZ"), "   40Hz");
  EXPECT_EQ(messageText("KL1000HZ"), " 1000Hz");
  EXPECT_EQ(messageText("KL17000HZ"), "17000Hz");
  EXPECT_EQ(messageText("KLDIGHIGHPASS2"), "Digite a frequencia de corte desejada, 1, 2 ou 3");
  EXPECT_EQ(messageText("KLDIGHIGHPASS"), "Intensidade 1, 2, 3 ou personalizado");
}

TEST(MessageCatalogue, RemoveQuestionSpansTwoLines) {
  EXPECT_EQ(messageText("KLTRAREM"),
            "A - remove antes do cursor, D depois, T - tudo\r\n"
            "M remove entre cursor e ponto memorizado: ");
}

TEST(MessageCatalogue, KeysWithoutARowGiveTheInvalidMessageText) {
  EXPECT_EQ(messageText("KLNOSUCH"), "--> Mensagem inv\xE1lida: KLNOSUCH");
  EXPECT_EQ(messageText("klok"), "--> Mensagem inv\xE1lida: klok");
  EXPECT_EQ(messageText("KLOK "), "--> Mensagem inv\xE1lida: KLOK ");
  EXPECT_EQ(messageText("KLO"), "--> Mensagem inv\xE1lida: KLO");  // no prefix match
  EXPECT_EQ(messageText(""), "--> Mensagem inv\xE1lida: ");
}

// Every message key quoted in the program's sources has a text: nothing the
// program says reaches the user as "Mensagem inválida". KLMENU and KLCLEK are
// recordings only, played by name.
TEST(MessageCatalogue, EveryKeyTheProgramSaysHasAText) {
  namespace fs = std::filesystem;
  const std::regex quotedKey("\"(KL[A-Z0-9_]+)\"");
  const std::set<std::string> recordingsOnly = {"KLMENU", "KLCLEK"};
  int keysSeen = 0;
  for (const char* folder : {"app", "sound", "edit", "console"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(KALIMBRO_SOURCE_DIR) / folder)) {
      if (entry.path().extension() != ".cpp" || entry.path().filename() == "klMsg.cpp") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      const std::string source = text.str();
      for (std::sregex_iterator it(source.begin(), source.end(), quotedKey), end; it != end; ++it) {
        const std::string key = (*it)[1];
        if (recordingsOnly.contains(key)) continue;
        ++keysSeen;
        EXPECT_FALSE(messageText(key).starts_with("--> ")) << key << " in " << entry.path();
      }
    }
  }
  EXPECT_GT(keysSeen, 100);
}

// sayMessage on a console that draws nowhere; the screen is read back.
class SayMessage : public ::testing::Test {
 protected:
  void SetUp() override {
    crtInit(nullptr);
    clearScreen();
    gotoXY(1, 1);
  }
  static std::string row(int y, int length) {
    std::string text;
    for (int x = 1; x <= length; ++x) text += static_cast<char>(screenCharAt(x, y));
    return text;
  }
};

TEST_F(SayMessage, QuestionLeavesTheCursorAfterItsBlank) {
  sayMessage("KLOPMG", 0);
  const std::string text = "Gravador, qual sua op\xE7\xE3o? ";
  EXPECT_EQ(row(1, static_cast<int>(text.size())), text);
  EXPECT_EQ(whereX(), static_cast<int>(text.size()) + 1);
  EXPECT_EQ(whereY(), 1);
}

TEST_F(SayMessage, RemoveQuestionWritesTwoLines) {
  sayMessage("KLTRAREM", 0);
  const std::string first = "A - remove antes do cursor, D depois, T - tudo";
  const std::string second = "M remove entre cursor e ponto memorizado: ";
  EXPECT_EQ(row(1, static_cast<int>(first.size()) + 1), first + " ");
  EXPECT_EQ(row(2, static_cast<int>(second.size())), second);
  EXPECT_EQ(whereX(), static_cast<int>(second.size()) + 1);
  EXPECT_EQ(whereY(), 2);
}

TEST_F(SayMessage, LineEndsFollowTheText) {
  sayMessage("KLOK", 2);
  EXPECT_EQ(row(1, 3), "Ok ");
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 3);
  sayMessage("KLXYZ", 1);
  EXPECT_EQ(row(3, 29), "--> Mensagem inv\xE1lida: KLXYZ ");
  EXPECT_EQ(whereY(), 4);
}

TEST_F(SayMessage, AFirstWordThatWouldBeCutAtTheRightEdgeStartsANewLine) {
  gotoXY(78, 1);
  sayMessage("KLERRO_N", 2);
  EXPECT_EQ(row(2, 30), "Nenhum arquivo foi selecionado");
  gotoXY(78, 5);
  sayMessage("KLOK", 1);  // fits where it is
  EXPECT_EQ(screenCharAt(78, 5), 'O');
}

TEST_F(SayMessage, NegativeLineEndsWriteNothing) {
  sayMessage("KLFIM", -1);
  EXPECT_EQ(row(1, 15), std::string(15, ' '));
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 1);
}

}  // namespace
}  // namespace kalimbro
