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
// The takes of G commands cut off by a signal, a crash or a kill, offered
// for the end of their own sound only, or kept in a file of their own.
// Once a sound is opened (at start-up, or by N), those recorded into that
// very file; at a start without a sound, every sound's by its full name,
// with the choice to open it (takes of a sound without a name become the
// sound).
void offerInterruptedTakes(bool atStartUp);

}  // namespace kalimbro
