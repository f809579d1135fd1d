// The braille display through BrlAPI, BRLTTY's client library: one
// connection (a handle of the library's own), the program's tty taken in
// the server's tty tree, the cursor's row written as UTF-8, and the keys
// the console understands read from the connection's descriptor on the
// event loop. Every other key stays with BRLTTY.
#include "platform/braille_display.h"

#include <brlapi.h>
#include <signal.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/codec.h"
#include "platform/eventloop.h"

namespace kalimbro {
namespace {

// The display's navigation commands (without the command type bit) and
// the keys they stand for.
struct CommandKey {
  brlapi_keyCode_t command;
  uint8_t code;
};
constexpr std::array<CommandKey, 6> kCommandKeys = {{
    {BRLAPI_KEY_CMD_LNUP, 72},     {BRLAPI_KEY_CMD_LNDN, 80},     {BRLAPI_KEY_CMD_LNBEG, 71},
    {BRLAPI_KEY_CMD_LNEND, 79},    {BRLAPI_KEY_CMD_TOP_LEFT, 71}, {BRLAPI_KEY_CMD_BOT_LEFT, 79},
}};

// Key symbols of the keyboard keys a display has (or BRLTTY passes on).
struct SymbolKey {
  brlapi_keyCode_t symbol;
  BrailleKey key;
};
constexpr auto kCharacter = BrailleKey::Kind::Character, kExtended = BrailleKey::Kind::Extended;
constexpr std::array<SymbolKey, 11> kSymbolKeys = {{
    {BRLAPI_KEY_SYM_BACKSPACE, {kCharacter, 8}}, {BRLAPI_KEY_SYM_TAB, {kCharacter, 9}},
    {BRLAPI_KEY_SYM_LINEFEED, {kCharacter, 13}}, {BRLAPI_KEY_SYM_ESCAPE, {kCharacter, 27}},
    {BRLAPI_KEY_SYM_UP, {kExtended, 72}},        {BRLAPI_KEY_SYM_DOWN, {kExtended, 80}},
    {BRLAPI_KEY_SYM_HOME, {kExtended, 71}},      {BRLAPI_KEY_SYM_END, {kExtended, 79}},
    {BRLAPI_KEY_SYM_LEFT, {kExtended, 75}},      {BRLAPI_KEY_SYM_RIGHT, {kExtended, 77}},
    {BRLAPI_KEY_SYM_DELETE, {kExtended, 83}},
}};

// A character typed on the display: its control keys, or its
// Windows-1252 byte; nullopt for one the code page lacks.
std::optional<BrailleKey> characterKey(char32_t cp) {
  if (cp == 127) return BrailleKey{kCharacter, 8};  // the Backspace of a terminal
  if (cp == 8 || cp == 9 || cp == 13 || cp == 27) return BrailleKey{kCharacter, static_cast<uint16_t>(cp)};
  const auto byte = codePointToCp1252(cp);
  if (!byte || *byte < 0x20) return std::nullopt;
  return BrailleKey{kCharacter, *byte};
}

std::optional<BrailleKey> translate(brlapi_keyCode_t code) {
  code &= BRLAPI_KEY_TYPE_MASK | BRLAPI_KEY_CODE_MASK;  // modifier flags do not count
  if ((code & BRLAPI_KEY_TYPE_MASK) == BRLAPI_KEY_TYPE_CMD) {
    if ((code & BRLAPI_KEY_CMD_BLK_MASK) == BRLAPI_KEY_CMD_PASSDOTS)
      return BrailleKey{BrailleKey::Kind::Dots, static_cast<uint16_t>(code & BRLAPI_KEY_CMD_ARG_MASK)};
    for (const CommandKey& k : kCommandKeys)
      if (k.command == (code & BRLAPI_KEY_CODE_MASK)) return BrailleKey{kExtended, k.code};
    return std::nullopt;
  }
  for (const SymbolKey& k : kSymbolKeys)
    if (k.symbol == code) return k.key;
  if (code & BRLAPI_KEY_SYM_UNICODE) return characterKey(static_cast<char32_t>(code & 0xFFFFFF));
  if (code < 0x100) return characterKey(static_cast<char32_t>(code));  // Latin-1 symbols
  return std::nullopt;
}

// The library's default reaction to an error it meets on its own (a server
// gone while a key is awaited) is to print it, which would land on the
// screen: a lost display is noticed at the next read instead.
void BRLAPI_STDCALL ignoreException(brlapi_handle_t*, int, brlapi_packetType_t, const void*, size_t) {}

// The library writes to its socket without MSG_NOSIGNAL, so a server that
// went away would end the program with SIGPIPE (and leave the terminal
// raw). The signal is held back around each call, and one it raised is
// taken before the mask is put back.
class SigpipeHeld {
 public:
  SigpipeHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~SigpipeHeld() {
    if (!wasPending_) {
      const timespec now{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeHeld(const SigpipeHeld&) = delete;
  SigpipeHeld& operator=(const SigpipeHeld&) = delete;

 private:
  sigset_t pipe_, old_;
  bool wasPending_ = false;
};

struct HandleFree {
  void operator()(brlapi_handle_t* handle) const { std::free(handle); }
};
using HandleMemory = std::unique_ptr<brlapi_handle_t, HandleFree>;

class BrlapiDisplay final : public BrailleDisplay {
 public:
  BrlapiDisplay(HandleMemory handle, int fd, int width, BrailleKeySink sink)
      : handle_(std::move(handle)), width_(width), sink_(std::move(sink)) {
    watch_ = eventLoop().watch(fd, [this] { readKeys(); });
  }
  ~BrlapiDisplay() override { close(); }
  BrlapiDisplay(const BrlapiDisplay&) = delete;
  BrlapiDisplay& operator=(const BrlapiDisplay&) = delete;

  int width() const override { return width_; }

  void show(std::string_view cp1252, int cursor) override {
    if (!connected_) return;
    std::string cells(cp1252.substr(0, static_cast<size_t>(width_)));
    cells.resize(static_cast<size_t>(width_), ' ');
    const std::string text = toUtf8(cells);
    brlapi_writeArguments_t args = BRLAPI_WRITEARGUMENTS_INITIALIZER;
    args.regionBegin = 1;
    args.regionSize = width_;
    args.text = text.c_str();
    args.textSize = static_cast<int>(text.size());
    args.cursor = cursor >= 0 && cursor < width_ ? cursor + 1 : BRLAPI_CURSOR_OFF;
    args.charset = "UTF-8";
    const SigpipeHeld held;
    if (brlapi__write(handle_.get(), &args) < 0) close();
    // Keys that came while the library waited for the write's answer are
    // kept by it, and no longer make the descriptor readable.
    readKeys();
  }

 private:
  void readKeys() {
    const SigpipeHeld held;
    brlapi_keyCode_t code = 0;
    int got = 0;
    while (connected_ && (got = brlapi__readKey(handle_.get(), 0, &code)) == 1) {
      if (const auto key = translate(code); key && sink_) sink_(*key);
    }
    if (connected_ && got < 0) close();  // the server went away
  }

  void close() {
    if (!connected_) return;
    const SigpipeHeld held;
    connected_ = false;
    eventLoop().unwatch(watch_);
    brlapi__closeConnection(handle_.get());
  }

  HandleMemory handle_;
  int width_;
  BrailleKeySink sink_;
  int watch_ = 0;
  bool connected_ = true;
};

// Only the keys the console turns into its own; the rest stay with BRLTTY.
bool acceptConsoleKeys(brlapi_handle_t* handle) {
  std::array<brlapi_keyCode_t, kCommandKeys.size() + 1> commands{};
  for (size_t i = 0; i < kCommandKeys.size(); ++i) commands[i] = BRLAPI_KEY_TYPE_CMD | kCommandKeys[i].command;
  commands.back() = BRLAPI_KEY_TYPE_CMD | BRLAPI_KEY_CMD_PASSDOTS;
  const brlapi_keyCode_t symbols[] = {BRLAPI_KEY_TYPE_SYM};
  return brlapi__ignoreAllKeys(handle) == 0 &&
         brlapi__acceptKeys(handle, brlapi_rangeType_key, commands.data(), kCommandKeys.size()) == 0 &&
         brlapi__acceptKeys(handle, brlapi_rangeType_command, &commands.back(), 1) == 0 &&
         brlapi__acceptKeys(handle, brlapi_rangeType_type, symbols, 1) == 0;
}

}  // namespace

std::unique_ptr<BrailleDisplay> openBrlttyDisplay(BrailleKeySink sink) {
  const SigpipeHeld held;
  HandleMemory handle(static_cast<brlapi_handle_t*>(std::malloc(brlapi_getHandleSize())));
  if (!handle) return nullptr;
  const int fd = brlapi__openConnection(handle.get(), nullptr, nullptr);
  if (fd < 0) return nullptr;
  brlapi__setExceptionHandler(handle.get(), ignoreException);
  unsigned int columns = 0, rows = 0;
  // The terminal's own tty when the library can tell it (a text console,
  // an X terminal), else the root of the server's tty tree.
  const bool ready = brlapi__getDisplaySize(handle.get(), &columns, &rows) == 0 && columns > 0 &&
                     (brlapi__enterTtyMode(handle.get(), BRLAPI_TTY_DEFAULT, nullptr) >= 0 ||
                      brlapi__enterTtyModeWithPath(handle.get(), nullptr, 0, nullptr) == 0) &&
                     acceptConsoleKeys(handle.get());
  if (!ready) {
    brlapi__closeConnection(handle.get());
    return nullptr;
  }
  return std::make_unique<BrlapiDisplay>(std::move(handle), fd, static_cast<int>(columns), std::move(sink));
}

}  // namespace kalimbro
