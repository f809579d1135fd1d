// The program's command-line options and the texts it prints for them.
#include "app/commandLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/kalimbro.h"
#include "platform/codec.h"

namespace kalimbro {
namespace {

// Windows-1252, like every text of the program; printed as UTF-8.
constexpr std::string_view kUsage =
    "Uso: kalimbro [op\xE7\xF5" "es] [--] [ARQUIVO]\n"
    "\n"
    "Gravador e editor de som falado, para quem n\xE3o enxerga. Tudo se faz\n"
    "pelo teclado e tudo o que o programa diz \xE9 falado em portugu\xEAs.\n"
    "\n"
    "ARQUIVO \xE9 o som a editar: WAV, FLAC, Ogg Vorbis, Opus, AIFF, M4A (MP4,\n"
    "AAC, convertidos com o ffmpeg) ou MP3 (convertido com o lame).\n"
    "Um nome que ainda n\xE3o existe \xE9 gravado do microfone. Sem ARQUIVO, o\n"
    "programa pergunta o nome com o seletor de arquivos; dada uma pasta, o\n"
    "seletor pergunta nela.\n"
    "\n"
    "Op\xE7\xF5" "es:\n"
    "  -h, --help     mostra esta ajuda e termina\n"
    "      --version  mostra o nome e a vers\xE3o e termina\n"
    "  --             termina as op\xE7\xF5" "es: o nome seguinte pode come\xE7" "ar por \"-\"\n"
    "\n"
    "Configura\xE7\xF5" "es: o arquivo Varelu.ini em $XDG_CONFIG_HOME/Varelu\n"
    "(normalmente ~/.config/Varelu), se\xE7\xE3o [KALIMBRO]; uma c\xF3pia do sistema\n"
    "pode estar em /etc/varelu.\n"
    "\n"
    "Dispositivos de som, se\xE7\xE3o [SOM] do Varelu.ini:\n"
    "  SAIDA=nome      sa\xED" "da de som (um dispositivo ALSA; vazio \xE9 o padr\xE3o)\n"
    "  ENTRADA=nome    entrada de som (o mesmo)\n"
    "  nulo            sa\xED" "da descartada, entrada em sil\xEAncio\n"
    "  arquivo:CAMINHO sa\xED" "da gravada no WAV CAMINHO, entrada lida dele\n"
    "\n"
    "Fala pelo speech-dispatcher, o servidor de fala do sistema: S no \xFAltimo\n"
    "campo do comando C, ou SAPI=S em [TRADUTOR] e TIPOSAPI=0 em [SERVFALA].\n"
    "\n"
    "Mais informa\xE7\xF5" "es: man kalimbro\n";

bool isOption(std::string_view word) { return word.size() > 1 && word.front() == '-'; }

}  // namespace

CommandLineRequest parseCommandLine(std::span<const std::string> argv) {
  CommandLineRequest request;
  if (!argv.empty()) request.args.push_back(argv.front());
  bool optionsEnded = false;
  for (const std::string& word : argv.subspan(argv.empty() ? 0 : 1)) {
    if (optionsEnded || !isOption(word)) {
      request.args.push_back(word);
      if (request.args.size() > 2) return {.kind = CommandLineRequest::Kind::tooManyNames, .args = {}, .option = {}};
    } else if (word == "--") {
      optionsEnded = true;
    } else if (word == "--help" || word == "-h") {
      return {.kind = CommandLineRequest::Kind::help, .args = {}, .option = {}};
    } else if (word == "--version") {
      return {.kind = CommandLineRequest::Kind::version, .args = {}, .option = {}};
    } else {
      return {.kind = CommandLineRequest::Kind::badOption, .args = {}, .option = word};
    }
  }
  return request;
}

bool startInNamedFolder(CommandLineRequest& request) {
  struct stat st;
  if (request.args.size() != 2 || stat(request.args[1].c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
  if (chdir(request.args[1].c_str()) != 0) return false;
  request.args.pop_back();
  return true;
}

std::string usageText() { return toUtf8(kUsage); }

std::string versionText() { return "kalimbro " + std::string(kProgramVersion) + "\n"; }

std::string badOptionText(std::string_view option) {
  // The option is the user's own text: it stays as it came.
  return toUtf8("kalimbro: op\xE7\xE3o desconhecida: ") + std::string(option) + "\n" +
         toUtf8("Um nome que come\xE7" "a por \"-\" vem depois de --, assim: kalimbro -- ") + std::string(option) +
         toUtf8("\n(veja kalimbro --help)\n");
}

std::string tooManyNamesText() {
  return toUtf8("kalimbro: argumentos demais: d\xEA um s\xF3 arquivo; um nome com espa\xE7os vai entre aspas,\n"
                "assim: kalimbro \"meu som.wav\" (veja kalimbro --help)\n");
}

std::string folderNotEnteredText(std::string_view folder) {
  return toUtf8("kalimbro: n\xE3o consigo abrir a pasta ") + std::string(folder) + "\n";
}

std::string notATerminalText() {
  return toUtf8("kalimbro: a entrada padr\xE3o precisa ser um terminal\n");
}

}  // namespace kalimbro
