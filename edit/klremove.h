// klremove: the remove command (main menu R). Cuts the stretch before or
// after the play cursor, between the cursor and the memorised mark, or the
// whole sound, and moves the cursor and the mark to follow the sound.
#pragma once

#include <cstdint>
#include <string_view>

namespace kalimbro {

// One removal worked out from the positions and the sound's length: the
// frames to delete, where the cursor and the mark end up, what is said.
struct RemovalPlan {
  int64_t start = 0;
  int64_t length = 0;
  int32_t position = 0;
  int32_t mark = 0;
  std::string_view message;
};

// `kind` is the upper-case key: 'A' before the cursor, 'D' after it, 'M'
// between cursor and mark, 'T' everything. False for any other key.
bool planRemoval(char kind, int32_t position, int32_t mark, int32_t count, RemovalPlan& plan);

void removeCommand();
void removeBeforeCursor();
void removeAfterCursor();
void removeBetweenCursorAndMark();
void removeAll();

}  // namespace kalimbro
