// klGrava: the record commands of the main menu. N starts a new sound (it
// offers to save the current one, chooses the new file and records it when
// it does not exist yet); G builds the sound in takes, each recorded into a
// temporary file and appended to the end, with Page Up to hear the last ten
// seconds before the next take.
#pragma once

namespace kalimbro {

// Main menu N.
void newSoundCommand();
// Main menu G.
void recordMoreCommand();
// At start: the takes of G commands cut off by a signal, a crash or a
// kill are offered for the end of the sound, or kept in a file of their own.
void offerInterruptedTakes();

}  // namespace kalimbro
