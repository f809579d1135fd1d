#include "app/commandLine.h"

#include <gtest/gtest.h>

namespace kalimbro {
namespace {

using Kind = CommandLineRequest::Kind;
using Words = std::vector<std::string>;

CommandLineRequest parse(Words words) { return parseCommandLine(words); }

TEST(CommandLineOptions, OptionsAnswerAndFileWordsPassThrough) {
  EXPECT_EQ(parse({"kalimbro", "--help"}).kind, Kind::help);
  EXPECT_EQ(parse({"kalimbro", "voz.wav", "-h"}).kind, Kind::help);
  EXPECT_EQ(parse({"kalimbro", "--version"}).kind, Kind::version);

  // A typo is refused before anything is recorded under its name.
  const CommandLineRequest typo = parse({"kalimbro", "--hlep", "voz.wav"});
  EXPECT_EQ(typo.kind, Kind::badOption);
  EXPECT_EQ(typo.option, "--hlep");
  EXPECT_NE(badOptionText(typo.option).find("--hlep"), std::string::npos);

  // A name that begins with "-" is told how to get past the options.
  EXPECT_NE(badOptionText("-voz.wav").find("kalimbro -- -voz.wav"), std::string::npos);

  const CommandLineRequest run = parse({"/usr/bin/kalimbro", "som.wav"});
  EXPECT_EQ(run.kind, Kind::run);
  EXPECT_EQ(run.args, (Words{"/usr/bin/kalimbro", "som.wav"}));
  // Two names (a shell's "*.wav", a name with blanks left unquoted) are
  // refused, not joined into one name to record into.
  EXPECT_EQ(parse({"kalimbro", "meu", "som.wav"}).kind, Kind::tooManyNames);
  EXPECT_EQ(parse({"kalimbro", "--", "a.wav", "-b.wav"}).kind, Kind::tooManyNames);

  // "--" ends the options: names that begin with "-" are names after it.
  EXPECT_EQ(parse({"kalimbro", "--", "-voz.wav"}).args, (Words{"kalimbro", "-voz.wav"}));
  EXPECT_EQ(parse({"kalimbro", "--", "--help"}).args, (Words{"kalimbro", "--help"}));
  EXPECT_EQ(parse({"kalimbro", "-"}).args, (Words{"kalimbro", "-"}));
  EXPECT_EQ(parse({"kalimbro"}).args, (Words{"kalimbro"}));
}

}  // namespace
}  // namespace kalimbro
