// TtyTerminal: the Terminal seam over the user's real terminal (a tty).
// Opening it puts the terminal in raw mode (no echo, no signals from keys:
// Control+C arrives as byte 3, no flow control), switches to the alternate
// screen, hides the cursor and turns on SGR mouse reports, focus reports
// and bracketed paste, and asks terminals that speak the kitty keyboard
// protocol for key releases. Input is read on the event loop, decoded by
// KeyDecoder and handed to the sink; a resize (SIGWINCH) reaches `onResize`
// on the main thread, through the event loop.
//
// Everything is put back by `restore`, by the destructor, and by SIGTERM,
// SIGHUP, SIGINT and SIGQUIT (after which the signal ends the process as it
// would have) and, as well as can be done, by a crash (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT). One TtyTerminal is open at a time.
//
// Colours are sent as the terminal can take them (terminal_colours). Cells
// are converted from Windows-1252 to UTF-8 and clipped to the terminal's
// real size.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <termios.h>

#include "platform/keydecoder.h"
#include "platform/terminal.h"
#include "platform/terminal_colours.h"

namespace kalimbro {

class TtyTerminal final : public Terminal {
  struct Passkey {
    explicit Passkey() = default;
  };

 public:
  // nullptr when `inFd` is not a terminal, its modes cannot be set, or
  // another TtyTerminal is open.
  static std::unique_ptr<TtyTerminal> open(int inFd, int outFd, InputSink sink,
                                           std::function<void()> onResize);

  TtyTerminal(Passkey, int inFd, int outFd, InputSink sink, std::function<void()> onResize);
  ~TtyTerminal() override;
  TtyTerminal(const TtyTerminal&) = delete;
  TtyTerminal& operator=(const TtyTerminal&) = delete;

  // Gives the terminal back as it was found. Safe to call more than once;
  // nothing is drawn or read afterwards.
  void restore();

  CellSize size() const override { return {rows_, columns_}; }
  ColourDepth colourDepth() const { return colourDepth_; }

  void drawRun(int row, int col, std::string_view cells, Rgb fg, Rgb bg) override;
  void placeCursor(int row, int col, bool visible) override;
  void setTitle(std::string_view cp1252) override;
  void copyToClipboard(std::string_view cp1252) override;
  void beep() override;
  void flush() override;
  void reportEveryKey(bool on) override;

 private:
  bool start(const termios& saved);
  void onReadable();
  void onResizeSignal();
  void readSize();
  void deliver(const std::vector<InputEvent>& events, const std::shared_ptr<bool>& alive);
  void hideCursorForDrawing();
  bool cellVisible(int row, int col) const;

  int inFd_;
  int outFd_;
  InputSink sink_;
  std::function<void()> onResize_;
  KeyDecoder decoder_;
  bool active_ = false;
  ColourDepth colourDepth_ = ColourDepth::ansi16;
  int rows_ = 0;
  int columns_ = 0;
  int inputWatch_ = 0;
  int resizeWatch_ = 0;
  int resizePipe_[2] = {-1, -1};
  std::string out_;
  // What the terminal shows now, to send only changes.
  bool coloursKnown_ = false;
  Rgb lastFg_, lastBg_;
  bool cursorShown_ = false;
  // Where the program wants the cursor.
  int cursorRow_ = 0;
  int cursorCol_ = 0;
  bool cursorVisible_ = false;
  bool cursorDirty_ = false;
  // Cleared when the terminal is destroyed, so that an input handler whose
  // sink destroyed it stops at once.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kalimbro
