// The sound kit: tables of what each recorded sound says, the synthesizer
// for words and a small additive tone generator for the signals.
#include "tools/soundkit.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "console/vrnum.h"
#include "console/vrsintese.h"
#include "platform/codec.h"
#include "platform/paths.h"
#include "platform/wav_header.h"

namespace kalimbro {
namespace {

// ---- What the letter sounds say ---------------------------------------------

struct CharacterName {
  uint8_t code;
  std::string_view name;
  std::string_view phonetic;  // empty: the name again
};

// Capital letters and every character without a case. Small letters say
// what their capital says (sharedCode). Single vowels are given bare: the
// synthesizer says a lone letter stressed, while "\xE9" alone would be
// spelled out as "\xE9 agudo".
constexpr CharacterName kCharacterNames[] = {
    {32, "espa\xE7o", ""},
    {33, "exclama\xE7\xE3o", ""},
    {34, "aspas", ""},
    {35, "cerquilha", ""},
    {36, "cifr\xE3o", ""},
    {37, "por cento", ""},
    {38, "\xE9 comercial", ""},
    {39, "ap\xF3strofo", ""},
    {40, "abre par\xEAntese", ""},
    {41, "fecha par\xEAntese", ""},
    {42, "asterisco", ""},
    {43, "mais", ""},
    {44, "v\xEDrgula", ""},
    {45, "h\xED" "fen", ""},
    {46, "ponto", ""},
    {47, "barra", ""},
    {48, "zero", ""},
    {49, "um", ""},
    {50, "dois", ""},
    {51, "tr\xEAs", ""},
    {52, "quatro", ""},
    {53, "cinco", ""},
    {54, "seis", ""},
    {55, "sete", ""},
    {56, "oito", ""},
    {57, "nove", ""},
    {58, "dois pontos", ""},
    {59, "ponto e v\xEDrgula", ""},
    {60, "menor que", ""},
    {61, "igual", ""},
    {62, "maior que", ""},
    {63, "interroga\xE7\xE3o", ""},
    {64, "arroba", ""},
    {65, "a", "\xE1 de amor"},
    {66, "b\xEA", "b\xEA de bola"},
    {67, "c\xEA", "c\xEA de casa"},
    {68, "d\xEA", "d\xEA de dado"},
    {69, "e", "\xE9 de elefante"},
    {70, "efe", "efe de faca"},
    {71, "g\xEA", "g\xEA de gato"},
    {72, "ag\xE1", "ag\xE1 de hotel"},
    {73, "i", "i de igreja"},
    {74, "jota", "jota de janela"},
    {75, "c\xE1", "c\xE1 de kiwi"},
    {76, "ele", "ele de lua"},
    {77, "eme", "eme de macaco"},
    {78, "ene", "ene de navio"},
    {79, "o", "\xF3 de ovo"},
    {80, "p\xEA", "p\xEA de pato"},
    {81, "qu\xEA", "qu\xEA de queijo"},
    {82, "erre", "erre de rato"},
    {83, "esse", "esse de sapo"},
    {84, "t\xEA", "t\xEA de tatu"},
    {85, "u", "u de uva"},
    {86, "v\xEA", "v\xEA de vaca"},
    {87, "d\xE1" "blio", "d\xE1" "blio de web"},
    {88, "xis", "xis de x\xED" "cara"},
    {89, "\xEDpsilon", "\xEDpsilon de yoga"},
    {90, "z\xEA", "z\xEA de zebra"},
    {91, "abre colchete", ""},
    {92, "barra invertida", ""},
    {93, "fecha colchete", ""},
    {94, "circunflexo", ""},
    {95, "sublinhado", ""},
    {96, "acento grave", ""},
    {123, "abre chave", ""},
    {124, "barra vertical", ""},
    {125, "fecha chave", ""},
    {126, "til", ""},
    {128, "euro", ""},
    {130, "v\xEDrgula baixa", ""},
    {131, "florim", ""},
    {132, "aspas baixas", ""},
    {133, "retic\xEAncias", ""},
    {134, "adaga", ""},
    {135, "adaga dupla", ""},
    {136, "circunflexo", ""},
    {137, "por mil", ""},
    {138, "esse com caron", ""},
    {139, "abre aspa angular", ""},
    {140, "\xF3 \xE9 ligados", ""},
    {142, "z\xEA com caron", ""},
    {145, "aspa simples esquerda", ""},
    {146, "aspa simples direita", ""},
    {147, "abre aspas", ""},
    {148, "fecha aspas", ""},
    {149, "marcador", ""},
    {150, "tra\xE7o", ""},
    {151, "travess\xE3o", ""},
    {152, "til", ""},
    {153, "marca comercial", ""},
    {155, "fecha aspa angular", ""},
    {159, "\xEDpsilon trema", ""},
    {160, "espa\xE7o fixo", ""},
    {161, "exclama\xE7\xE3o invertida", ""},
    {162, "centavo", ""},
    {163, "libra", ""},
    {164, "moeda", ""},
    {165, "iene", ""},
    {166, "barra partida", ""},
    {167, "par\xE1grafo", ""},
    {168, "trema", ""},
    {169, "direitos autorais", ""},
    {170, "ordinal feminino", ""},
    {171, "abre aspas angulares", ""},
    {172, "nega\xE7\xE3o", ""},
    {173, "h\xED" "fen opcional", ""},
    {174, "marca registrada", ""},
    {175, "m\xE1" "cron", ""},
    {176, "grau", ""},
    {177, "mais ou menos", ""},
    {178, "expoente dois", ""},
    {179, "expoente tr\xEAs", ""},
    {180, "acento agudo", ""},
    {181, "micro", ""},
    {182, "p\xE9 de mosca", ""},
    {183, "ponto m\xE9" "dio", ""},
    {184, "cedilha", ""},
    {185, "expoente um", ""},
    {186, "ordinal masculino", ""},
    {187, "fecha aspas angulares", ""},
    {188, "um quarto", ""},
    {189, "um meio", ""},
    {190, "tr\xEAs quartos", ""},
    {191, "interroga\xE7\xE3o invertida", ""},
    {192, "\xE1 crase", ""},
    {193, "\xE1 agudo", ""},
    {194, "\xE1 circunflexo", ""},
    {195, "\xE1 til", ""},
    {196, "\xE1 trema", ""},
    {197, "\xE1 com anel", ""},
    {198, "\xE1 \xE9 ligados", ""},
    {199, "c\xEA cedilha", "c\xEA cedilha de a\xE7\xFA" "car"},
    {200, "\xE9 crase", ""},
    {201, "\xE9 agudo", ""},
    {202, "\xE9 circunflexo", ""},
    {203, "\xE9 trema", ""},
    {204, "i crase", ""},
    {205, "i agudo", ""},
    {206, "i circunflexo", ""},
    {207, "i trema", ""},
    {208, "d\xEA cortado", ""},
    {209, "ene til", ""},
    {210, "\xF3 crase", ""},
    {211, "\xF3 agudo", ""},
    {212, "\xF3 circunflexo", ""},
    {213, "\xF3 til", ""},
    {214, "\xF3 trema", ""},
    {215, "vezes", ""},
    {216, "\xF3 cortado", ""},
    {217, "u crase", ""},
    {218, "u agudo", ""},
    {219, "u circunflexo", ""},
    {220, "u trema", ""},
    {221, "\xEDpsilon agudo", ""},
    {222, "thorn", ""},
    {223, "esse duplo", ""},
    {247, "dividido por", ""},
};

// The code whose names a character shares: a small letter its capital's.
uint8_t sharedCode(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 32);
  if (c >= 224 && c <= 254 && c != 247) return static_cast<uint8_t>(c - 32);
  switch (c) {
    case 154: return 138;  // s and S with caron
    case 156: return 140;  // oe and OE
    case 158: return 142;  // z and Z with caron
    case 255: return 159;  // y and Y with diaeresis
    default: return c;
  }
}

const CharacterName* characterName(uint8_t c) {
  const uint8_t code = sharedCode(c);
  for (const CharacterName& n : kCharacterNames)
    if (n.code == code) return &n;
  return nullptr;
}

// ---- The words of the letters directory ----------------------------------

struct WordSound {
  std::string_view fileName;  // without ".wav"
  std::string_view text;
};

constexpr WordSound kWordSounds[] = {
    {"_unknown", "desconhecido"},
    {"_FON9", "tabula\xE7\xE3o"},
    {"_MENOS", "menos"},
    {"_primeir", "primeiro"},
    {"_de", "de"},
    {"_hora", "hora"},
    {"_horas", "horas"},
    {"_minuto", "minuto"},
    {"_minutos", "minutos"},
    {"_SEMBAT", "sem bateria"},
    {"_SEMENER", "sem energia"},
    // The line editor and the file selector.
    {"_DEL", "apagado"},
    {"_BUSCAR", "buscar"},
    {"_ACHEI", "achei"},
    {"_NAOACH", "n\xE3o achei"},
    {"_APFCPO", "apaguei o fim do campo"},
    {"_APICPO", "apaguei o in\xED" "cio do campo"},
    {"_CPOAPA", "campo apagado"},
    {"_FALACI", "fala acionada"},
    {"_FALDLG", "fala desligada"},
    {"_VELOC", "velocidade de um a cinco"},
};

// Weekdays are named as the file says them; months by the first seven
// letters of these names.
struct CalendarName {
  std::string_view name;
  std::string_view text;
};

constexpr CalendarName kWeekdays[] = {
    {"Domingo", "domingo"},       {"Segunda", "segunda-feira"}, {"Terca", "ter\xE7" "a-feira"},
    {"Quarta", "quarta-feira"},   {"Quinta", "quinta-feira"},   {"Sexta", "sexta-feira"},
    {"Sabado", "s\xE1" "bado"},
};

constexpr CalendarName kMonths[] = {
    {"Janeiro", "janeiro"}, {"Fevereiro", "fevereiro"}, {"Marco", "mar\xE7o"},
    {"Abril", "abril"},     {"Maio", "maio"},           {"Junho", "junho"},
    {"Julho", "julho"},     {"Agosto", "agosto"},       {"Setembro", "setembro"},
    {"Outubro", "outubro"}, {"Novembro", "novembro"},   {"Dezembro", "dezembro"},
};
constexpr size_t kMonthNameLetters = 7;

// Number words are plain ASCII; a few say better with their accent or, for
// the connector, as it is pronounced.
constexpr WordSound kNumberPronunciations[] = {
    {"tres", "tr\xEAs"},
    {"e", "i"},
};

std::string sayNumberWord(const std::string& word) {
  for (const WordSound& p : kNumberPronunciations)
    if (word == p.fileName) return std::string(p.text);
  return word;
}

// ---- Tones ------------------------------------------------------------------

struct Note {
  double start;      // seconds
  double length;     // seconds
  double frequency;  // Hz
  double amplitude;  // 0..1
  double decay;      // per second: amplitude x e^(-decay t); 0 holds steady
  double ramp;       // seconds of fade in and out
};

// Adds the notes into a buffer of `seconds` and encodes it as 8-bit samples.
std::vector<uint8_t> renderNotes(std::span<const Note> notes, double seconds) {
  const size_t frames = static_cast<size_t>(std::lround(seconds * kKitSampleRate));
  std::vector<double> mix(frames, 0.0);
  for (const Note& n : notes) {
    const size_t first = static_cast<size_t>(std::lround(n.start * kKitSampleRate));
    const size_t count = static_cast<size_t>(std::lround(n.length * kKitSampleRate));
    const double rampFrames = std::max(1.0, n.ramp * kKitSampleRate);
    for (size_t i = 0; i < count && first + i < frames; ++i) {
      const double t = static_cast<double>(i) / kKitSampleRate;
      const double fromEnd = static_cast<double>(count - i);
      const double ramp = std::min({1.0, (static_cast<double>(i) + 1) / rampFrames,
                                    fromEnd / rampFrames});
      mix[first + i] += n.amplitude * ramp * std::exp(-n.decay * t) *
                        std::sin(2 * std::numbers::pi * n.frequency * t);
    }
  }
  std::vector<uint8_t> out(frames);
  for (size_t i = 0; i < frames; ++i)
    out[i] = static_cast<uint8_t>(std::clamp<long>(std::lround(mix[i] * 127) + 128, 0, 255));
  return out;
}

constexpr int kDtmfRows[4] = {697, 770, 852, 941};
constexpr int kDtmfColumns[4] = {1209, 1336, 1477, 1633};
constexpr std::string_view kDtmfKeys = "123A456B789C*0#D";
constexpr double kDtmfSeconds = 0.15;

std::vector<uint8_t> dtmfTone(char key) {
  const std::optional<DtmfPair> pair = dtmfFrequencies(key);
  if (!pair) return {};
  const Note notes[] = {{0, kDtmfSeconds, double(pair->low), 0.42, 0, 0.004},
                        {0, kDtmfSeconds, double(pair->high), 0.42, 0, 0.004}};
  return renderNotes(notes, kDtmfSeconds);
}

// A rising major arpeggio, each note fading like a struck bell.
std::vector<uint8_t> menuJingle() {
  constexpr double kStep = 0.11;
  const Note notes[] = {
      {0 * kStep, 0.18, 523.25, 0.5, 9, 0.003},   {1 * kStep, 0.18, 659.25, 0.5, 9, 0.003},
      {2 * kStep, 0.18, 783.99, 0.5, 9, 0.003},   {3 * kStep, 0.32, 1046.50, 0.5, 7, 0.003},
      {3 * kStep, 0.32, 2093.00, 0.12, 12, 0.003},
  };
  return renderNotes(notes, 3 * kStep + 0.32);
}

// A short, high, quickly dying burst.
std::vector<uint8_t> clickTone() {
  const Note notes[] = {{0, 0.015, 2400, 0.8, 350, 0.0005}, {0, 0.015, 3700, 0.3, 500, 0.0005}};
  return renderNotes(notes, 0.015);
}

// ---- Silence ----------------------------------------------------------------

constexpr int kSilenceLevel = 3;          // |sample - 128| below this is silence
constexpr size_t kLeadMargin = 110;       // 10 ms kept before the sound
constexpr size_t kTrailMargin = 330;      // 30 ms kept after it
constexpr size_t kCutFadeFrames = 110;    // fade over the end of a cut word

bool isSilent(uint8_t s) { return std::abs(int(s) - 128) < kSilenceLevel; }

std::vector<uint8_t> spokenSound(std::string_view text) {
  if (text.empty()) return {};
  return trimSilence(synthesizeWord(text));
}

// ---- Writing -----------------------------------------------------------------

std::string joinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (!path.empty() && path.back() != '/') path += '/';
  return path += name;
}

bool writeWavFile(const std::string& fileName, const std::vector<uint8_t>& samples) {
  const auto header = makeWavHeader(static_cast<uint32_t>(samples.size()), kKitSampleRate, 1, 8);
  std::ofstream out(nativePath(fileName), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header.data()), header.size());
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
  out.close();
  return !out.fail();
}

bool makeDirectory(std::string_view dir) {
  std::error_code ec;
  std::filesystem::create_directories(nativePath(dir), ec);
  return directoryExists(dir);
}

}  // namespace

bool hasLetterSound(uint8_t c) {
  if (c < 32 || c == 127) return false;
  // The undefined codes decode to the C1 control of the same number.
  return cp1252ToCodePoint(c) != char32_t(c) || c < 128 || c > 159;
}

std::string letterSoundName(uint8_t c) { return "_" + std::to_string(c) + ".wav"; }
std::string phoneticSoundName(uint8_t c) { return "_FON" + std::to_string(c) + ".wav"; }

std::optional<DtmfPair> dtmfFrequencies(char key) {
  const size_t at = kDtmfKeys.find(key);
  if (key == '\0' || at == std::string_view::npos) return std::nullopt;
  return DtmfPair{kDtmfRows[at / 4], kDtmfColumns[at % 4]};
}

std::string dtmfSoundName(char key) {
  return std::string("dtmf_") + (key == '*' ? 'X' : key) + ".wav";
}

std::vector<KitSound> soundKitContents() {
  std::vector<KitSound> kit;
  auto letters = [&kit](std::string fileName, KitSoundKind kind, std::string text) {
    kit.push_back({KitDirectory::letters, std::move(fileName), kind, std::move(text)});
  };

  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    if (!hasLetterSound(code)) continue;
    const CharacterName* n = characterName(code);
    if (!n) continue;
    letters(letterSoundName(code), KitSoundKind::spoken, std::string(n->name));
    letters(phoneticSoundName(code), KitSoundKind::spoken,
            std::string(n->phonetic.empty() ? n->name : n->phonetic));
  }
  for (const WordSound& w : kWordSounds)
    letters(std::string(w.fileName) + ".wav", KitSoundKind::spoken, std::string(w.text));
  for (const NumberWordFile& f : allNumberWordFiles())
    letters(f.fileName, KitSoundKind::numberWord, sayNumberWord(f.word));
  for (const CalendarName& d : kWeekdays)
    letters("_" + std::string(d.name) + ".wav", KitSoundKind::spoken, std::string(d.text));
  for (const CalendarName& m : kMonths)
    letters("_" + std::string(m.name.substr(0, kMonthNameLetters)) + ".wav", KitSoundKind::spoken,
            std::string(m.text));
  for (char key : kDtmfKeys) letters(dtmfSoundName(key), KitSoundKind::dtmf, std::string(1, key));

  kit.push_back({KitDirectory::program, "KLMENU.wav", KitSoundKind::menuJingle, ""});
  kit.push_back({KitDirectory::program, "KLCLEK.wav", KitSoundKind::click, ""});
  return kit;
}

std::vector<uint8_t> trimSilence(std::span<const uint8_t> samples) {
  const auto first = std::find_if_not(samples.begin(), samples.end(), isSilent);
  if (first == samples.end()) return {};
  const auto last = std::find_if_not(samples.rbegin(), samples.rend(), isSilent).base();
  const size_t begin = static_cast<size_t>(first - samples.begin());
  const size_t end = static_cast<size_t>(last - samples.begin());
  const size_t from = begin > kLeadMargin ? begin - kLeadMargin : 0;
  const size_t to = std::min(samples.size(), end + kTrailMargin);
  return {samples.begin() + from, samples.begin() + to};
}

std::vector<uint8_t> makeKitSound(const KitSound& sound) {
  switch (sound.kind) {
    case KitSoundKind::spoken:
      return spokenSound(sound.text);
    case KitSoundKind::numberWord: {
      std::vector<uint8_t> samples = spokenSound(sound.text);
      if (samples.size() > kMaxNumberWordBytes) {
        samples.resize(kMaxNumberWordBytes);
        // Fade the cut end toward silence so it does not click.
        for (size_t i = 0; i < kCutFadeFrames; ++i) {
          uint8_t& s = samples[samples.size() - 1 - i];
          s = static_cast<uint8_t>(128 + (int(s) - 128) * int(i) / int(kCutFadeFrames));
        }
      }
      return samples;
    }
    case KitSoundKind::dtmf:
      return sound.text.size() == 1 ? dtmfTone(sound.text[0]) : std::vector<uint8_t>{};
    case KitSoundKind::menuJingle:
      return menuJingle();
    case KitSoundKind::click:
      return clickTone();
  }
  return {};
}

KitReport writeKitSounds(std::string_view lettersDir, std::string_view programDir,
                         const std::vector<KitSound>& sounds) {
  KitReport report;
  for (std::string_view dir : {lettersDir, programDir}) {
    if (!makeDirectory(dir)) {
      report.error = "cannot make the directory " + toUtf8(dir);
      return report;
    }
  }
  const bool needsVoice = std::any_of(sounds.begin(), sounds.end(), [](const KitSound& s) {
    return s.kind == KitSoundKind::spoken || s.kind == KitSoundKind::numberWord;
  });
  if (needsVoice && synthStart() != 0) {
    report.error = "cannot start the voice " + synthVoiceName();
    return report;
  }

  for (const KitSound& sound : sounds) {
    const std::vector<uint8_t> samples = makeKitSound(sound);
    if (samples.empty()) {
      report.error = "no sound made for " + toUtf8(sound.fileName);
      return report;
    }
    const std::string fileName =
        joinPath(sound.directory == KitDirectory::letters ? lettersDir : programDir, sound.fileName);
    if (!writeWavFile(fileName, samples)) {
      report.error = "cannot write " + toUtf8(fileName);
      return report;
    }
    ++report.files;
    report.bytes += kWavHeaderBytes + samples.size();
  }
  report.ok = true;
  return report;
}

KitReport writeSoundKit(std::string_view lettersDir, std::string_view programDir) {
  return writeKitSounds(lettersDir, programDir, soundKitContents());
}

}  // namespace kalimbro
