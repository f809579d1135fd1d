#include "app/klArquivo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/kalimbro.h"
#include "app/klmp3.h"
#include "app/programState.h"
#include "console/VrCrt.h"
#include "console/vrini.h"
#include "edit/klHistorico.h"
#include "formats/soundFiles.h"
#include "history/editHistory.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "sound/gramost.h"
#include "tests/fakes/command_fixture.h"
#include "tests/fakes/key_script.h"
#include "tests/fakes/replace_faults.h"
#include "tests/fakes/wav_image.h"

namespace kalimbro {
namespace {

using Args = std::vector<std::string>;

// ---------------------------------------------------------------- names

TEST(CommandLine, TheFileNameComesAfterTheProgramPath) {
  // Both quoted, both with blanks.
  EXPECT_EQ(commandLineFileName("\"C:/Program Files/kalimbro\" \"C:/Meus sons/a b.wav\""), "C:/Meus sons/a b.wav");
  // Both unquoted.
  EXPECT_EQ(commandLineFileName("kalimbro voz.wav"), "voz.wav");
  // A quoted path followed by an unquoted name, and the other way round.
  EXPECT_EQ(commandLineFileName("\"/opt/k k/kalimbro\" voz.wav"), "voz.wav");
  EXPECT_EQ(commandLineFileName("kalimbro \"meu som.wav\""), "meu som.wav");
  // Whatever follows the program path is the name, extra words included.
  EXPECT_EQ(commandLineFileName("kalimbro a.wav b.wav"), "a.wav b.wav");
  // Nothing after the program, or a quote that never closes: no name.
  EXPECT_EQ(commandLineFileName("kalimbro"), "");
  EXPECT_EQ(commandLineFileName("kalimbro \"\""), "");
  EXPECT_EQ(commandLineFileName("\"/opt/kalimbro"), "");
  EXPECT_EQ(commandLineFileName("kalimbro \""), "");
}

TEST(CommandLine, ArgumentsAreRebuiltIntoTheRawLine) {
  EXPECT_EQ(rawCommandLine(Args{"/opt/my progs/kalimbro", "my sound.wav"}),
            "\"/opt/my progs/kalimbro\" \"my sound.wav\"");
  EXPECT_EQ(rawCommandLine(Args{"kalimbro", "a.wav", "", "b\tc"}), "kalimbro a.wav \"\" \"b\tc\"");
  // UTF-8 arguments become Windows-1252 names.
  EXPECT_EQ(rawCommandLine(Args{"kalimbro", "can\xC3\xA7\xC3\xA3o.wav"}), "kalimbro can\xE7\xE3o.wav");
  // A name with blanks survives the round trip; extra arguments stay in it.
  EXPECT_EQ(commandLineFileName(rawCommandLine(Args{"/a b/kalimbro", "x y.wav"})), "x y.wav");
  EXPECT_EQ(commandLineFileName(rawCommandLine(Args{"kalimbro", "x.wav", "y.wav"})), "x.wav y.wav");
}

TEST(FileNames, WorkingAndSaveAsExtensions) {
  EXPECT_EQ(workingWavName("a.Wav"), "a.Wav");
  EXPECT_EQ(workingWavName("a.WAV"), "a.WAV");
  EXPECT_EQ(workingWavName("x"), "x.wav");
  EXPECT_EQ(workingWavName("x.txt"), "x.txt.wav");
  EXPECT_EQ(workingWavName("x.mp3"), "x.mp3.wav");

  EXPECT_EQ(saveAsWavName("b"), "b.wav");
  EXPECT_EQ(saveAsWavName("b.mp3"), "b.mp3.wav");
  EXPECT_EQ(saveAsWavName("b.MP3"), "b.MP3.wav");
  EXPECT_EQ(saveAsWavName("b.snd"), "b.snd");
  EXPECT_EQ(saveAsWavName("b.wav"), "b.wav");
  EXPECT_EQ(saveAsWavName("/home/a.b/c"), "/home/a.b/c.wav");  // the dot of a directory is no extension

  EXPECT_TRUE(isMp3Twin("x.mp3.wav"));
  EXPECT_TRUE(isMp3Twin("/a/X.Mp3.WAV"));
  EXPECT_FALSE(isMp3Twin(".mp3.wav"));  // nothing before the extensions
  EXPECT_FALSE(isMp3Twin("x.wav"));
  EXPECT_FALSE(isMp3Twin("x.mp3"));
}

TEST(FileNames, TitlesAreCutAt133Characters) {
  EXPECT_EQ(fileWindowTitle("voz.wav", false), "KALIMBRO voz.wav");
  EXPECT_EQ(fileWindowTitle("voz.wav", true), "KALIMBRO Gravando... voz.wav");
  const std::string name(200, 'n');
  EXPECT_EQ(fileWindowTitle(name, false), "KALIMBRO " + std::string(124, 'n') + "...");
  EXPECT_EQ(fileWindowTitle(name, true), "KALIMBRO Gravando... " + std::string(112, 'n') + "...");
  EXPECT_EQ(fileWindowTitle(std::string(124, 'n'), false).size(), 133u);  // exactly 133: not cut
}

TEST(FileNames, QualityAndChannelAnswers) {
  EXPECT_EQ(qualityForAnswer('c').sampleRate, 44100);
  EXPECT_EQ(qualityForAnswer('C').bitsPerSample, 16);
  EXPECT_EQ(qualityForAnswer('t').sampleRate, 11025);
  EXPECT_EQ(qualityForAnswer('T').bitsPerSample, 8);
  EXPECT_EQ(qualityForAnswer('r').sampleRate, 22050);
  EXPECT_EQ(qualityForAnswer(13).bitsPerSample, 16);
  EXPECT_EQ(channelsForAnswer('e'), 2);
  EXPECT_EQ(channelsForAnswer('S'), 2);
  EXPECT_EQ(channelsForAnswer('m'), 1);
  EXPECT_EQ(channelsForAnswer(13), 1);
}

// ---------------------------------------------------------------- the commands

// A stand-in for LAME: runs `body` with the argument vector instead.
class FakeLame final : public ProcessRunner {
 public:
  explicit FakeLame(std::function<int(std::span<const std::string>)> body) : body_(std::move(body)) {
    setProcessRunner(this);
  }
  ~FakeLame() override { setProcessRunner(nullptr); }
  ProcessResult run(std::span<const std::string> args, const ProcessCallbacks&) override {
    ++runs;
    return {ProcessResult::Kind::exited, body_(args)};
  }
  int runs = 0;

 private:
  std::function<int(std::span<const std::string>)> body_;
};

class WorkingFile : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    setCommandLine(Args{});
  }
  void TearDown() override {
    setCommandLine(Args{});
    CommandTest::TearDown();
  }
  // A mono 22050 Hz sound of `n` frames counting up from `first`, saved.
  void makeWav(const std::string& name, int n, int16_t first = 0) {
    TAmostras s;
    s.createSized(1, 22050, 16, n);
    for (int i = 0; i < n; ++i) s.setFrame(i, packFrame(first + i, first + i));
    ASSERT_TRUE(s.saveWav(name));
  }
};

TEST_F(WorkingFile, StartUpTakesTheCommandLineName) {
  setCommandLine(Args{"/a b/kalimbro", file("meu som")});
  chooseWorkingFile(true);
  EXPECT_EQ(program().workingFileName, file("meu som.wav"));
  EXPECT_EQ(windowTitle(), "KALIMBRO " + file("meu som"));
  EXPECT_TRUE(shown(file("meu som")));

  // A name the program cannot write in Windows-1252 is reached through an
  // alias, as the selector reaches it, not mangled into a new name.
  makeWav(file("cjk.wav"), 3, 40);
  std::filesystem::rename(file("cjk.wav"), file("\xE5\xA3\xB0.wav"));  // a CJK character in UTF-8
  setCommandLine(Args{"kalimbro", file("\xE5\xA3\xB0.wav")});
  chooseWorkingFile(true);
  ASSERT_TRUE(fileExists(program().workingFileName)) << program().workingFileName;
  loadWorkingSound();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{40, 41, 42}));

  // Later choices never read the command line: they ask.
  KeyScript keys;
  keys.key("\x1B");
  chooseWorkingFile(false);
  EXPECT_TRUE(shown("Informe o nome do arquivo"));
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_EQ(keys.remaining(), 0u);
}

TEST_F(WorkingFile, AnEmptyNameAsksAgainAndEscGivesUp) {
  setCommandLine(Args{"kalimbro", ""});
  KeyScript keys;
  keys.type(file("a.Wav")).key("\r");
  chooseWorkingFile(true);
  EXPECT_TRUE(shown("Nenhum arquivo foi selecionado"));
  EXPECT_EQ(program().workingFileName, file("a.Wav"));

  // Enter on an empty line in the selector is giving up, without a message.
  KeyScript again;
  again.key("\r");
  chooseWorkingFile(false);
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_EQ(occurrences("Nenhum arquivo foi selecionado"), 1);
}

TEST_F(WorkingFile, AnExistingMp3IsDecodedBesideItAndAMissingOneIsNot) {
  makeWav(file("tom.wav"), 22050);
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("tom.mp3")), Conversion::done);
  setCommandLine(Args{"kalimbro", file("tom.mp3")});
  chooseWorkingFile(true);
  EXPECT_TRUE(shown("Vou converter de MP3 para WAV, aguarde"));
  EXPECT_EQ(program().workingFileName, file("tom.mp3.wav"));
  EXPECT_TRUE(fileExists(file("tom.mp3.wav")));

  // Edits saved into the twin are opened over the same MP3, never decoded
  // over.
  fillMono(sound(), {70, 71, 72, 73, 74});
  ASSERT_EQ(saveWorkingFile(), SaveResult::saved);
  clearScreen();
  chooseWorkingFile(true);
  EXPECT_FALSE(shown("Vou converter de MP3 para WAV, aguarde"));
  loadWorkingSound();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{70, 71, 72, 73, 74}));

  // An MP3 reached through an alias: its twin lies beside the real MP3 (a
  // failed conversion at the end must not leave the edits in the temporary
  // directory), and the conversion back replaces the real MP3 and removes
  // the twin.
  std::filesystem::rename(file("tom.mp3"), file("\xE5\xA3\xB0.mp3"));
  setCommandLine(Args{"kalimbro", file("\xE5\xA3\xB0.mp3")});
  chooseWorkingFile(true);
  EXPECT_TRUE(std::filesystem::exists(file("\xE5\xA3\xB0.mp3.wav")));
  const auto mp3Size = std::filesystem::file_size(file("\xE5\xA3\xB0.mp3"));
  makeWav(program().workingFileName, 44100);  // an edit saved with F2: twice as long
  convertBackToMp3(program().workingFileName);
  EXPECT_FALSE(std::filesystem::exists(file("\xE5\xA3\xB0.mp3.wav")));
  EXPECT_GT(std::filesystem::file_size(file("\xE5\xA3\xB0.mp3")), mp3Size);

  setCommandLine(Args{"kalimbro", file("novo.mp3")});
  chooseWorkingFile(true);
  EXPECT_EQ(program().workingFileName, file("novo.mp3.wav"));
  EXPECT_FALSE(fileExists(file("novo.mp3.wav")));
}

TEST_F(WorkingFile, AnMp3ThatCannotBeDecodedIsReportedAndAskedAgain) {
  writeFileBytes(file("ruim.mp3"), {'n', 'a', 'o'});
  setCommandLine(Args{"kalimbro", file("ruim.mp3")});
  KeyScript keys;
  keys.key("\x1B");
  chooseWorkingFile(true);
  EXPECT_TRUE(shown("Convers\xE3o MP3 foi mal sucedida"));
  EXPECT_TRUE(shown("Informe o nome do arquivo"));
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_FALSE(fileExists(file("ruim.mp3.wav")));
}

TEST_F(WorkingFile, LoadingResetsThePositionsAndAFailureKeepsTheSound) {
  makeWav(file("voz.wav"), 5, 100);
  fillMono(sound(), {7, 8, 9});
  program().currentPosition = 2;
  program().markedPosition = 1;
  program().workingFileName = file("voz.wav");
  loadWorkingSound();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{100, 101, 102, 103, 104}));
  EXPECT_EQ(program().currentPosition, 0);
  EXPECT_EQ(program().markedPosition, 0);
  EXPECT_EQ(program().workingFileName, file("voz.wav"));

  writeFileBytes(file("ruim.wav"), {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});
  program().workingFileName = file("ruim.wav");
  loadWorkingSound();
  EXPECT_TRUE(shown("Arquivo incompat\xEDvel com este programa"));
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_EQ(sound().count(), 5);
}

TEST_F(WorkingFile, ASoundBeyondTheMemoryLimitIsReportedAsSuch) {
  makeWav(file("longo.wav"), 1100000);
  fillMono(sound(), {7, 8, 9});
  program().settings.maxMemoryMb = 1;
  program().workingFileName = file("longo.wav");
  loadWorkingSound();
  EXPECT_EQ(sound().memoryLimit(), 1048576);
  EXPECT_TRUE(shown("N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o"));
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{7, 8, 9}));
}

TEST_F(WorkingFile, F2SavesUnderTheWorkingNameOrATypedOne) {
  fillMono(sound(), {1, 2, 3});
  program().workingFileName = file("voz.wav");
  EXPECT_EQ(saveWorkingFile(), SaveResult::saved);
  EXPECT_TRUE(shown("OK, arquivo salvo"));
  EXPECT_EQ(windowTitle(), "KALIMBRO " + file("voz.wav"));

  // Without a name the typed one is used exactly as typed; a file of that
  // name is replaced only when the user says so.
  program().workingFileName.clear();
  writeFileBytes(file("outro"), {1, 2});
  KeyScript keys;
  keys.type(file("outro")).key("\r").type("n");
  keys.type(file("outro")).key("\r").type("s");
  EXPECT_EQ(saveWorkingFile(), SaveResult::gaveUp);
  EXPECT_TRUE(shown("O arquivo " + file("outro") + " j\xE1 existe. Substituo? n"));
  EXPECT_EQ(readFileBytes(file("outro")), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(program().workingFileName, "");
  EXPECT_EQ(saveWorkingFile(), SaveResult::saved);
  EXPECT_EQ(program().workingFileName, file("outro"));
  TAmostras back;
  ASSERT_TRUE(back.loadWav(file("outro")));
  EXPECT_EQ(leftValues(back), (std::vector<int16_t>{1, 2, 3}));

  // A typed MP3 name gets its WAV twin (WAV data never sit under an MP3
  // name), and the MP3 is written before the file is said to be saved.
  program().workingFileName.clear();
  fillMono(sound(), std::vector<int16_t>(22050, 3000));
  clearScreen();
  KeyScript mp3;
  mp3.type(file("som.mp3")).key("\r");
  EXPECT_EQ(saveWorkingFile(), SaveResult::saved);
  EXPECT_EQ(program().workingFileName, file("som.mp3.wav"));
  EXPECT_GT(*fileSize(file("som.mp3")), 0u);
  EXPECT_FALSE(fileExists(file("som.mp3.wav")));
  EXPECT_LT(screenText().find("Vou converter de WAV para MP3"), screenText().find("OK, arquivo salvo"));

  program().workingFileName.clear();
  KeyScript none;
  none.key("\x1B");
  EXPECT_EQ(saveWorkingFile(), SaveResult::gaveUp);
  EXPECT_TRUE(shown("Desistiu..."));
  EXPECT_EQ(program().workingFileName, "");
}

// True when F2 would write the working file now; nothing is written.
bool f2Writes() {
  const ReplaceFault refused(ReplaceStep::write, 1);
  saveWorkingFile();
  return refused.hit();
}

TEST_F(WorkingFile, AFileThatHoldsTheSoundIsNotWrittenAgain) {
  makeWav(file("voz.wav"), 6, 10);
  program().workingFileName = file("voz.wav");
  loadWorkingSound();
  EXPECT_FALSE(f2Writes());
  EXPECT_TRUE(shown("OK, arquivo salvo"));

  // An edit undone leaves the sound the file's; a marker placed is a change.
  {
    const HistoryStepScope step("KLPREMOV");
    sound().deleteRange(0, 2);
  }
  EXPECT_TRUE(f2Writes());
  undoCommand();
  EXPECT_FALSE(f2Writes());
  sound().placeMarker(3);
  EXPECT_TRUE(f2Writes());
  ASSERT_EQ(saveWorkingFile(), SaveResult::saved);
  EXPECT_FALSE(f2Writes());
  // So is a marker named.
  ASSERT_TRUE(sound().nameMarker(sound().markers().front().number, "Entrevista"));
  EXPECT_TRUE(f2Writes());
  ASSERT_EQ(saveWorkingFile(), SaveResult::saved);
  EXPECT_FALSE(f2Writes());

  // A change made while a command still runs (G's takes before its save
  // question) is written; going back to the saved version is the file again.
  {
    const HistoryStepScope step("KLPGRAVA");
    sound().deleteRange(0, 1);
    EXPECT_TRUE(f2Writes());
  }
  {
    const HistoryStepScope step("KLPVOLTA");
    KeyScript yes;
    yes.type("s");
    undoToSaved();
  }
  EXPECT_FALSE(f2Writes());

  // Someone else wrote the file since: the sound is written over it, as
  // the user asked.
  makeWav(file("voz.wav"), 2);
  EXPECT_TRUE(f2Writes());
}

TEST_F(WorkingFile, AFileOfMoreChannelsIsWrittenInStereoOnlyWhenTheUserSaysSo) {
  // Four channels of 16 bits, two frames of a rising value.
  writeFileBytes(file("quatro.wav"), wavImage(22050, 16, 4, std::vector<uint8_t>(16, 1)));
  const std::vector<uint8_t> four = readFileBytes(file("quatro.wav"));
  program().workingFileName = file("quatro.wav");
  loadWorkingSound();
  EXPECT_FALSE(f2Writes());  // nothing changed: nothing asked
  {
    const HistoryStepScope step("KLPREMOV");
    sound().deleteRange(0, 1);
  }
  KeyScript keys;
  keys.type("n").type("s");
  EXPECT_EQ(saveWorkingFile(), SaveResult::gaveUp);
  EXPECT_TRUE(shown("O arquivo tem 4 canais; salvo em est\xE9reo? n"));
  EXPECT_EQ(readFileBytes(file("quatro.wav")), four);
  EXPECT_EQ(saveWorkingFile(), SaveResult::saved);
  TAmostras back;
  ASSERT_TRUE(back.loadWav(file("quatro.wav")));
  EXPECT_EQ(back.channels(), 2);
  EXPECT_EQ(back.count(), 1);
  // Stereo now: nothing more to ask.
  EXPECT_EQ(keys.remaining(), 0u);
  clearScreen();
  sound().placeMarker(0);
  EXPECT_EQ(saveWorkingFile(), SaveResult::saved);
  EXPECT_FALSE(shown("canais"));
}

TEST_F(WorkingFile, ASoundOpenInAnotherRunIsToldToHaveNoHistoryHere) {
  makeWav(file("voz.wav"), 6);
  TAmostras elsewhere;
  EditHistory otherRun;
  ASSERT_TRUE(otherRun.start(elsewhere, soundStateDirectory(file("voz.wav")) + "historia/", std::nullopt));
  program().workingFileName = file("voz.wav");
  loadWorkingSound();
  EXPECT_TRUE(shown("Este som est\xE1 aberto em outro programa"));
  EXPECT_EQ(whereX(), 1) << "what follows the warning starts on a line of its own";
  clearScreen();
  otherRun.close();
  loadWorkingSound();
  EXPECT_FALSE(shown("Este som est\xE1 aberto em outro programa"));
}

TEST_F(WorkingFile, AFailedSaveKeepsTheNameAndTheSoundAndSaysSo) {
  fillMono(sound(), {1, 2, 3});
  program().workingFileName = file("falta/voz.wav");
  EXPECT_EQ(saveWorkingFile(), SaveResult::failed);
  EXPECT_TRUE(shown("Erro de grava\xE7\xE3o"));
  EXPECT_EQ(program().workingFileName, file("falta/voz.wav"));

  // A save-as into a missing folder leaves the sound at its own quality, so
  // that the next F2 does not write a poorer copy over the original.
  program().workingFileName = file("voz.wav");
  KeyScript keys;
  keys.type("n").type(file("falta/b")).key("\r").type("tm");
  saveAs(program().workingFileName);
  EXPECT_EQ(sound().sampleRate(), 22050);
  EXPECT_EQ(sound().bitsPerSample(), 16);
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{1, 2, 3}));
  EXPECT_EQ(program().workingFileName, file("voz.wav"));

  // A disk that refuses any one write, flush or rename of F2 or of a save
  // under a new name: the user hears it, and every file is as it was.
  makeWav(file("b.wav"), 5, 100);
  auto saidSaved = [](auto save) {
    clearScreen();
    save();
    const bool saved = shown("OK, arquivo salvo");
    EXPECT_NE(saved, shown("Erro de grava\xE7\xE3o"));
    return saved;
  };
  expectFailedSavesChangeNothing({dir()}, [&] { return saidSaved(saveWorkingFile); });
  expectFailedSavesChangeNothing({dir()}, [&] {
    // Only the save's own steps fail here: the history, which would keep
    // the conversion as a step, is tested on its own.
    stopWorkingSoundHistory(false);
    KeyScript answers;
    answers.type("n").type(file("b")).key("\r").type("s").type("tm");
    const int rate = sound().sampleRate();
    const bool saved = saidSaved([] { saveAs(program().workingFileName); });
    EXPECT_TRUE(saved || sound().sampleRate() == rate);  // the sound in memory kept its quality
    return saved;
  });
  EXPECT_EQ(program().workingFileName, file("b.wav"));
}

TEST_F(WorkingFile, TheMp3TwinGoesOnlyWhenLameReallyWroteTheMp3) {
  makeWav(file("x.mp3.wav"), 22050);
  {
    // Status 0 but nothing written.
    FakeLame lame([](std::span<const std::string>) { return 0; });
    EXPECT_FALSE(convertBackToMp3(file("x.mp3.wav")));
    EXPECT_EQ(lame.runs, 1);
    EXPECT_TRUE(fileExists(file("x.mp3.wav")));
    EXPECT_FALSE(fileExists(file("x.mp3")));
    EXPECT_TRUE(shown("Convers\xE3o MP3 foi mal sucedida"));
    EXPECT_TRUE(shown("As altera\xE7\xF5" "es continuam no arquivo " + file("x.mp3.wav")));
  }
  {
    // Something written, but a failure status.
    FakeLame lame([](std::span<const std::string> args) {
      writeFileBytes(args.back(), {1, 2, 3});
      return 255;
    });
    convertBackToMp3(file("x.mp3.wav"));
    EXPECT_TRUE(fileExists(file("x.mp3.wav")));
    EXPECT_FALSE(fileExists(file("x.mp3")));
  }
  {
    FakeLame lame([](std::span<const std::string>) { return 0; });
    convertBackToMp3(file("x.wav"));  // no twin: nothing runs
    EXPECT_EQ(lame.runs, 0);
  }
  // The real LAME.
  convertBackToMp3(file("x.mp3.wav"));
  EXPECT_TRUE(shown("Vou converter de WAV para MP3, aguarde"));
  EXPECT_FALSE(fileExists(file("x.mp3.wav")));
  EXPECT_GT(*fileSize(file("x.mp3")), 0u);
}

TEST_F(WorkingFile, SaveAsKeepingTheParametersIsF2ThenMp3) {
  makeWav(file("tom.mp3.wav"), 10);
  fillStereo(sound(), std::vector<std::pair<int16_t, int16_t>>(22050, {1000, -1000}), 44100);
  sound().setBitsPerSample(8);
  program().workingFileName = file("tom.mp3.wav");
  KeyScript keys;
  keys.type("s");
  saveAs(program().workingFileName);
  EXPECT_TRUE(fileExists(file("tom.mp3")));
  EXPECT_FALSE(fileExists(file("tom.mp3.wav")));
  EXPECT_EQ(sound().sampleRate(), 44100);
  EXPECT_EQ(sound().bitsPerSample(), 8);
  EXPECT_EQ(sound().channels(), 2);
}

TEST_F(WorkingFile, SaveAsANewNameConvertsTheSound) {
  fillMono(sound(), std::vector<int16_t>(100, 500));
  ASSERT_TRUE(sound().saveWav(file("voz.wav")));
  program().workingFileName = file("voz.wav");
  loadWorkingSound();
  program().currentPosition = 50;
  program().markedPosition = 10;
  const std::string oldState = nativePath(soundStateDirectory(file("voz.wav")));
  KeyScript keys;
  keys.type("n").type(file("b")).key("\r").type("ce");
  saveAs(program().workingFileName);
  EXPECT_EQ(program().workingFileName, file("b.wav"));
  EXPECT_FALSE(std::filesystem::exists(oldState)) << "the old name's state folder went with its history";
  EXPECT_EQ(windowTitle(), "KALIMBRO " + file("b.wav"));
  // The sound in memory is the converted one, the cursor at the same time.
  EXPECT_EQ(sound().sampleRate(), 44100);
  EXPECT_EQ(sound().count(), 200);
  EXPECT_EQ(program().currentPosition, 100);
  EXPECT_EQ(program().markedPosition, 20);
  // Undo goes on across the new name: the conversion is taken back, and
  // brought again, the cursor and the mark each where it was.
  undoCommand();
  EXPECT_TRUE(shown("Desfeito: convers\xE3o"));
  EXPECT_EQ(sound().sampleRate(), 22050);
  EXPECT_EQ(sound().channels(), 1);
  EXPECT_EQ(program().currentPosition, 50);
  EXPECT_EQ(program().markedPosition, 10);
  redoCommand();
  EXPECT_EQ(sound().count(), 200);
  EXPECT_EQ(program().currentPosition, 100);
  EXPECT_EQ(program().markedPosition, 20);
  TAmostras back;
  ASSERT_TRUE(back.loadWav(file("b.wav")));
  EXPECT_EQ(back.sampleRate(), 44100);
  EXPECT_EQ(back.bitsPerSample(), 16);
  EXPECT_EQ(back.channels(), 2);
  EXPECT_EQ(back.count(), 200);
  EXPECT_EQ(unpackFrame(back.getFrame(50)).right, 500);

  // Another extension is kept, and telephone quality is 8 bits at 11025 Hz.
  KeyScript snd;
  snd.type("n").type(file("b.snd")).key("\r").type("tm");
  saveAs(program().workingFileName);
  EXPECT_EQ(program().workingFileName, file("b.snd"));
  ASSERT_TRUE(back.loadWav(file("b.snd")));
  EXPECT_EQ(back.sampleRate(), 11025);
  EXPECT_EQ(back.bitsPerSample(), 8);
  EXPECT_EQ(back.channels(), 1);

  // Another existing file is replaced only when the user says so.
  const std::vector<uint8_t> firstSaved = readFileBytes(file("b.wav"));
  KeyScript existing;
  existing.type("n").type(file("b.wav")).key("\r").key("\x1B");
  saveAs(program().workingFileName);
  EXPECT_TRUE(shown("O arquivo " + file("b.wav") + " j\xE1 existe. Substituo?"));
  EXPECT_EQ(readFileBytes(file("b.wav")), firstSaved);
  EXPECT_EQ(program().workingFileName, file("b.snd"));

  // A sound kind's extension is kept and names what is written, by save-as
  // and by F2 after it.
  KeyScript flac;
  flac.type("n").type(file("b.flac")).key("\r").type("rm");
  saveAs(program().workingFileName);
  EXPECT_TRUE(shown("Desistiu...\n")) << "the next question went on the refusal's line";
  EXPECT_EQ(program().workingFileName, file("b.flac"));
  EXPECT_EQ(kindOfFile(file("b.flac")), SoundKind::flac);
  fillMono(sound(), std::vector<int16_t>(300, -700));
  EXPECT_EQ(saveWorkingFile(), SaveResult::saved);
  const SoundLoad flacBack = loadSound(file("b.flac"), back);
  ASSERT_TRUE(flacBack.ok());
  EXPECT_EQ(flacBack.format, newFileFormat(SoundKind::flac, 16));
  EXPECT_EQ(back.sampleRate(), 22050);
  EXPECT_EQ(leftValues(back), std::vector<int16_t>(300, -700));

  // A sound with no frames yet, converted: undo still says what it took back.
  makeWav(file("vazio.wav"), 0);
  program().workingFileName = file("vazio.wav");
  loadWorkingSound();
  KeyScript empty;
  empty.type("n").type(file("c")).key("\r").type("ce");
  saveAs(program().workingFileName);
  clearScreen();
  undoCommand();
  EXPECT_TRUE(shown("Desfeito: convers\xE3o\n")) << screenText();
}

TEST_F(WorkingFile, SaveAsOriginalKeepsTheRateChannelsAndTheFilesDepth) {
  fillStereo(sound(), {{100, -100}, {200, -200}, {300, -300}}, 48000);
  ASSERT_TRUE(saveSound(file("take.wav"), sound(), {SoundKind::wav, 24}));
  program().workingFileName = file("take.wav");
  loadWorkingSound();
  KeyScript keys;
  keys.type("n").type(file("take.flac")).key("\r").type("o");
  saveAs(program().workingFileName);
  EXPECT_EQ(keys.remaining(), 0u);  // no channels question
  EXPECT_FALSE(shown("Est\xE9reo ou Mono?"));
  TAmostras back;
  const SoundLoad load = loadSound(file("take.flac"), back);
  ASSERT_TRUE(load.ok());
  EXPECT_EQ(load.format, (SoundFileFormat{SoundKind::flac, 24}));
  EXPECT_EQ(back.sampleRate(), 48000);
  EXPECT_EQ(back.channels(), 2);
  EXPECT_EQ(leftValues(back), (std::vector<int16_t>{100, 200, 300}));
}

TEST_F(WorkingFile, SaveAsMp3LeavesOnlyTheMp3) {
  fillMono(sound(), std::vector<int16_t>(22050, 3000));
  program().workingFileName = file("voz.wav");
  KeyScript keys;
  keys.type("n").type(file("b.mp3")).key("\r").type("rm").key("\r");
  saveAs(program().workingFileName);
  EXPECT_EQ(program().workingFileName, file("b.mp3.wav"));
  EXPECT_GT(*fileSize(file("b.mp3")), 0u);
  EXPECT_FALSE(fileExists(file("b.mp3.wav")));
}

// The rate is asked in kb/s, held to the kind's range, reaches LAME and is
// offered again by the next save-as.
TEST_F(WorkingFile, SaveAsMp3AsksTheRateAndOffersTheLastOneChosen) {
  fillMono(sound(), std::vector<int16_t>(22050, 3000));
  program().workingFileName = file("voz.wav");
  std::vector<std::string> rates;
  FakeLame lame([&](std::span<const std::string> args) {
    const auto abr = std::find(args.begin(), args.end(), "--abr");
    rates.push_back(abr == args.end() || abr + 1 == args.end() ? "" : *(abr + 1));
    writeFileBytes(args.back(), {1, 2, 3});
    return 0;
  });
  KeyScript keys;
  keys.type("n").type(file("b.mp3")).key("\r").type("rm").type("400").key("\r").type("48").key("\r");
  saveAs(program().workingFileName);
  EXPECT_TRUE(shown("Taxa de bits em kb/s, Enter para 128: "));
  EXPECT_TRUE(shown("Este tipo de arquivo vai de 8 a 310 kb/s"));
  EXPECT_EQ(iniRead("KALIMBRO", "TAXA_MP3"), "48");
  keys.type("n").type(file("c.mp3")).key("\r").type("rm").key("\r");
  saveAs(program().workingFileName);
  EXPECT_TRUE(shown("Taxa de bits em kb/s, Enter para 48:"));
  EXPECT_EQ(rates, (std::vector<std::string>{"48", "48"}));
  EXPECT_TRUE(fileExists(file("c.mp3")));
}

TEST_F(WorkingFile, ADecodedCopyGoesWhenSaveAsReplacesItUnlessOnlyItHoldsTheEdits) {
  makeWav(file("tom.wav"), 22050);
  ASSERT_EQ(wavToMp3(file("tom.wav"), file("tom.mp3")), Conversion::done);
  setCommandLine(Args{"kalimbro", file("tom.mp3")});
  // Edits saved with F2 are in the MP3 too, unless LAME failed.
  for (const char* saved : {"not saved", "saved", "saved, LAME failed"}) {
    SCOPED_TRACE(saved);
    chooseWorkingFile(true);
    loadWorkingSound();
    const bool onlyInTwin = std::string_view(saved) == "saved, LAME failed";
    if (std::string_view(saved) != "not saved") {
      // Another sound in one change: the history restarts once, not per frame.
      TAmostras edit;
      fillMono(edit, std::vector<int16_t>(22050, 1000));
      sound().takeOver(edit);
      std::optional<FakeLame> failing;
      if (onlyInTwin) failing.emplace([](std::span<const std::string>) { return 1; });
      ASSERT_EQ(saveWorkingFile(), SaveResult::saved);
    }
    KeyScript keys;
    keys.type("n").type(file("b")).key("\r");
    if (fileExists(file("b.wav"))) keys.type("s");
    keys.type("rm");
    saveAs(program().workingFileName);
    EXPECT_EQ(program().workingFileName, file("b.wav"));
    EXPECT_EQ(fileExists(file("tom.mp3.wav")), onlyInTwin);
  }
}

TEST_F(WorkingFile, SaveAsGivenUpChangesNothing) {
  fillMono(sound(), {1, 2, 3});
  program().workingFileName = file("voz.wav");
  TAmostras* before = program().soundBuffer.get();
  KeyScript keys;
  keys.key("\x1B");                                                 // keep the parameters?
  keys.type("n").key("\x1B");                                       // the new name
  keys.type("n").type(file("b")).key("\r").key("\x1B");             // the quality: silent
  keys.type("n").type(file("b")).key("\r").type("c").key("\x1B");  // the channels
  for (int i = 0; i < 4; ++i) saveAs(program().workingFileName);
  EXPECT_EQ(occurrences("Desistiu..."), 3);
  // F1 at the question and in the emptied name field: the answers, and
  // the question again; then ESC at the bit rate.
  clearScreen();
  const std::string f1{'\0', 59};
  keys.key(f1).type("n").key("\x19").key(f1);
  keys.type(file("b.opus")).key("\r").type("cm").key("\x1B");
  saveAs(program().workingFileName);
  EXPECT_TRUE(shown("S salva como est\xE1; N pede novo nome, qualidade e canais; ESC desiste"));
  EXPECT_TRUE(shown("Digite o nome do arquivo a salvar e Enter; ESC desiste"));
  EXPECT_EQ(occurrences("Desistiu..."), 1);
  EXPECT_EQ(program().soundBuffer.get(), before);
  EXPECT_EQ(program().workingFileName, file("voz.wav"));
  EXPECT_FALSE(fileExists(file("b.wav")));
  EXPECT_FALSE(fileExists(file("b.opus")));
  EXPECT_EQ(iniRead("KALIMBRO", "TAXA_OPUS"), "");
  EXPECT_FALSE(fileExists(file("voz.wav")));
}

TEST_F(WorkingFile, SaveAsBeyondTheMemoryLimitKeepsTheSound) {
  // 600000 values fit in one megabyte of values; at twice the rate and in
  // stereo they would take 2400000.
  program().settings.maxMemoryMb = 1;
  fillMono(sound(), std::vector<int16_t>(600000, 9));
  program().workingFileName = file("voz.wav");
  TAmostras* before = program().soundBuffer.get();
  KeyScript keys;
  keys.type("n").type(file("b")).key("\r").type("ce");
  saveAs(program().workingFileName);
  EXPECT_TRUE(shown("N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o"));
  EXPECT_EQ(program().soundBuffer.get(), before);
  EXPECT_EQ(sound().count(), 600000);
  EXPECT_EQ(program().workingFileName, file("voz.wav"));
  EXPECT_FALSE(fileExists(file("b.wav")));
}

// ---------------------------------------------------------------- undo

TEST_F(WorkingFile, UndoReturnsToTheSavedSoundAndAFailedOneKeepsTheSound) {
  makeWav(file("voz.wav"), 4, 10);
  program().workingFileName = file("voz.wav");
  loadWorkingSound();
  sound().deleteRange(0, 2);  // an edit
  program().currentPosition = 1;
  KeyScript keys;
  keys.type("n").key("\x1B").type("s");
  undoToSaved();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{12, 13}));  // "n" changes nothing
  EXPECT_FALSE(shown("Desistiu..."));
  undoToSaved();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{12, 13}));  // nor does ESC
  EXPECT_TRUE(shown("Desistiu..."));
  undoToSaved();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{10, 11, 12, 13}));
  EXPECT_TRUE(shown("Retornei ao \xFAltimo som gravado"));
  EXPECT_EQ(program().currentPosition, 1);

  // The file has become unreadable: the sound in memory stays.
  writeFileBytes(file("voz.wav"), {'x'});
  sound().deleteRange(0, 1);
  KeyScript again;
  again.type("s");
  undoToSaved();
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{11, 12, 13}));
  EXPECT_TRUE(shown("Arquivo incompat\xEDvel com este programa"));
  EXPECT_EQ(occurrences("Retornei ao \xFAltimo som gravado"), 1);
}

TEST_F(WorkingFile, UndoBeyondTheMemoryLimitKeepsTheSound) {
  makeWav(file("longo.wav"), 1100000);
  fillMono(sound(), {7, 8, 9});
  program().workingFileName = file("longo.wav");
  sound().setMemoryLimit(1048576);
  KeyScript keys;
  keys.type("S");
  undoToSaved();
  EXPECT_TRUE(shown("N\xE3o h\xE1 mem\xF3ria suficiente para esta edi\xE7\xE3o"));
  EXPECT_EQ(leftValues(sound()), (std::vector<int16_t>{7, 8, 9}));
  EXPECT_EQ(program().workingFileName, file("longo.wav"));
}

}  // namespace
}  // namespace kalimbro
