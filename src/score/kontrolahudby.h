// The check of the music as written (base/hudba.h): what the engine made of
// each note and step back, the bars of each voice and the octaves the
// relative rule chose. It reads only the model, so it covers whatever the
// engine placed, also after an error in a check.
#pragma once

#include <cstdint>
#include <vector>

#include "base/hudba.h"
#include "base/nota.h"

namespace skladba {

// Notes on a silent segment, notes that outlast their recording, step backs
// that pass the start, cross a change of tempo or land inside a dotted note,
// dots that lengthen only the top of a chord; then, voice by voice: bars
// that do not keep the length of the voice's other bars (a bar line left
// out, as a note across it is written, counts the bars it joins; the stretch
// before a voice's first bar line is no bar), and notes that the relative
// octave rule carries more than an octave from the note before them in
// their voice because another voice was written in between. In the order of
// the score.
// At most nejvic are returned; dalsich counts the others.
std::vector<Varovani> zkontrolujhudbu(const Hudba& h, size_t nejvic, int64_t& dalsich);

}  // namespace skladba
