// klArquivo: the working file. Chooses it at start-up (from the command
// line or with the file selector), loads it, records a new sound straight
// into it when it does not exist, saves it (F2), saves it under another
// name and format (S), and brings imported MP3 files back to MP3. A
// working file that is not WAV (FLAC, Opus, AAC ...) is saved back in its
// own format (openSave). Used by the main program and the record commands.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kalimbro {

class TAmostras;

// ---- The command line -----------------------------------------------------------

// The program's arguments as one raw command line, the way the file rules
// below read it: each argument in Windows-1252, between double quotes when
// it holds a blank or a tab or is empty, joined by one blank.
std::string rawCommandLine(std::span<const std::string> args);
// Keeps the arguments the program was started with (UTF-8) for
// chooseWorkingFile at start-up.
void setCommandLine(std::span<const std::string> utf8Args);
// The file a raw command line names: the program path is dropped (quoted or
// up to the first blank), quotes around the rest are dropped, and the rest,
// whatever it holds, is the name.
std::string commandLineFileName(std::string_view rawLine);

// ---- Names and titles -------------------------------------------------------------

// The name as the working file: ".wav" appended unless it ends in ".WAV"
// in any case or names another kind of sound the program writes back
// itself ("x.flac", "x.opus", "x.m4a" stay; "x.mp3" -> "x.mp3.wav",
// "x.txt" -> "x.txt.wav").
std::string workingWavName(std::string_view name);
// A name typed for save-as: ".wav" appended when it ends in ".MP3" or its
// file-name part holds no "." ("b" -> "b.wav", "b.snd" stays).
std::string saveAsWavName(std::string_view name);
// True when `name` is the WAV twin of an MP3 file ("x.mp3.wav").
bool isMp3Twin(std::string_view name);
// The MP3 file a twin stands for ("x.mp3.wav" -> "x.mp3").
std::string mp3OfTwin(std::string_view twin);
// The recording parameters chosen by the answer to "Qualidade CD, rádio ou
// telefone? " (C 44100 Hz 16 bits, T 11025 Hz 8 bits, any other key 22050
// Hz 16 bits) and to "Estéreo ou Mono? " (E or S stereo, any other mono).
struct Quality {
  int32_t sampleRate;
  int32_t bitsPerSample;
};
Quality qualityForAnswer(uint8_t key);
int32_t channelsForAnswer(uint8_t key);
// "KALIMBRO " + name, or "KALIMBRO Gravando... " + name when recording; a
// title longer than 133 characters is cut to 133 followed by "...".
std::string fileWindowTitle(std::string_view name, bool recording);

// ---- The operations --------------------------------------------------------------

// Sets workingFileName from the command line (only at start-up) or with the
// file selector; decodes an MP3 into its WAV twin. Empty when the user
// gave up.
void chooseWorkingFile(bool atStartUp);
// Loads workingFileName into soundBuffer; the positions go to 0. A failed
// load says why, empties workingFileName and keeps the sound in memory.
void loadWorkingSound();
// Asks the quality and channels and records from the sound input into
// workingFileName until ESC. False when the user gave up ("Desistiu...",
// the name is then emptied) or the recording failed (the name stays).
bool recordNewFile();
// Start-up and N: records workingFileName first when no such file exists,
// then loads it. A recording given up or that made no file (no input
// device) leaves nothing to load: the name is forgotten, as a failed load
// would forget it, the sound stays as it is and the positions go to 0.
void recordOrLoadWorkingSound();
// The message that says why recording into `sound` failed: memory, an
// input device that could not be opened or stopped working, or the
// recording itself.
std::string_view recordingFailureKey(const TAmostras& sound);

enum class SaveResult { saved, gaveUp, failed };
// F2, and the saves of the end of the program, N and G: saves soundBuffer
// as workingFileName, asking for a name when there is none (and before
// writing over a file of that name). A working file that already holds the
// sound is not written again. An MP3 twin's MP3 is brought up to date from
// it; a typed MP3 name saves into its twin and encodes the MP3 at once.
SaveResult saveWorkingFile();
// Encodes an MP3 twin ("x.mp3.wav") into its MP3 unless the MP3 already
// holds what the twin holds; true when it does now. The MP3 gets `bitRate`
// (bits per second), or, with 0, the rate it had. A failure says where the
// edits stayed.
bool encodeTwinIntoMp3(std::string_view twin, int32_t bitRate = 0);
// Brings an MP3 twin's MP3 up to date (at `bitRate`, as above) and removes
// the twin when it holds nothing more; true then. Any other name: nothing,
// false.
bool convertBackToMp3(std::string_view fileName, int32_t bitRate = 0);
// The file on disk that holds the working sound: the working file, or the
// MP3 of a twin that was encoded into it and removed.
std::string fileHoldingWorkingSound();
// S: saves keeping the parameters (as F2 does), or converts the sound to a
// new rate, width and channel count and saves it under a new name; a lossy
// kind (MP3, Opus, Vorbis, M4A) at the bit rate the user chooses.
void saveAs(std::string_view fileName);

// N moves on from the working file: an MP3 twin of it that holds nothing
// of the user's goes, with its record.
void dropUneditedWorkingTwin();

}  // namespace kalimbro
