// klEfeitoNivel: the effects that work from the sound's levels: loudness
// normalisation to a target (L), the silence at the start and the end
// removed (C) and long pauses shortened (U). Each says what it did and goes
// through the effects command's demonstration and keep-or-discard question.
#pragma once

namespace kalimbro {

void normaliseLoudness();
void trimSilence();
void shortenPauses();

}  // namespace kalimbro
