// Feeds arbitrary terminal input to the key decoder, whole and in pieces,
// and checks that the cut makes no difference.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/keydecoder.h"

namespace {

bool sameEvents(const std::vector<kalimbro::InputEvent>& a, const std::vector<kalimbro::InputEvent>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].ch != b[i].ch || a[i].key != b[i].key ||
        a[i].mods != b[i].mods || a[i].text != b[i].text)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the piece length.
  const size_t piece = 1 + data[0] % 7;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  kalimbro::KeyDecoder whole;
  auto expected = whole.feed(bytes);
  kalimbro::KeyDecoder split;
  std::vector<kalimbro::InputEvent> got;
  for (size_t pos = 0; pos < bytes.size(); pos += piece) {
    auto events = split.feed(bytes.substr(pos, piece));
    got.insert(got.end(), events.begin(), events.end());
  }
  if (!sameEvents(got, expected)) std::abort();
  if (!sameEvents(split.flushPending(), whole.flushPending())) std::abort();
  return 0;
}
