// The mix: one signed 32-bit sum per sample, held in the mix file (format in
// base/format.h) so that the length of a piece does not depend on memory. The
// file is locked for the whole run so that two runs cannot corrupt each other.
// Notes add into a cache of a few mix blocks of fixed size; a block is
// written to the file, and read back to verify it, when it leaves the cache.
//
// The synthesis has one entry point for the engine, mixuj(): a segment of the
// loaded register, scaled by a volume, added into the mix at a start sample.
// dopismix() then puts what the cache still holds into the file, after which
// the file holds the whole mix.
#pragma once

#include <cstdint>
#include <string>

#include "base/format.h"

namespace skladba {

// The input block of the WAV writer, and the read-back block of the
// verification.
extern int32_t pole4[delkatonu];
extern int32_t testpole[delkatonu];

// Creates the mix file at cesta empty and takes its lock: never through a
// link or into a special file (those are removed as names first), and a file
// left by an interrupted run is emptied. A ChybaSouboru when it cannot be
// created or another run holds it.
void otevrimix(const std::string& cesta);

// Adds segment k of the wavetable, each sample times sila / 100, to the
// delkatonu sums from sample start on; tracks the peak in maximum and the end
// of the mix in konecmixu. A score error when a sum would leave the 32-bit
// range; a file error when a block leaving the cache cannot be written.
//
// With a release (dozvuk above 0) the note is cut instead: it sounds for its
// first delka samples, then fades to silence over dozvuk samples and stops
// there (at the end of its segment at the latest).
void mixuj(int64_t start, int64_t k, int sila, int64_t delka = delkatonu, int64_t dozvuk = 0);

// Writes and verifies every block still in the cache, in file order, and
// makes the file konecmixu sums long. Called once, after the last note and
// before the mix is read.
void dopismix();

// Empties the cache without writing it, for a new run.
void vynulujmix();

// Called for every sum that did not read back as written: the sum written,
// the sum read and its sample. The run sequence reports them. Blocks are
// verified as they leave the cache, so this comes during the notes or from
// dopismix().
using HlaseniNesouhlasu = void (*)(int32_t zapsano, int32_t precteno, int64_t vzorek);
extern HlaseniNesouhlasu hlaseninesouhlasu;

// Reads delkatonu sums of the mix file starting at sample start into block;
// where the file ends (or has a gap) the sums are 0. Sees the notes mixed only
// after dopismix().
void ctimix(int64_t start, int32_t* block);

int64_t delkamixu();   // bytes
// Removes the mix file (while still holding its lock), then closes it.
void smazmix();

}  // namespace skladba
