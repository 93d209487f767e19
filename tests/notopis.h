// Checks of sheet music shared by the tests: the MusicXML schema (the one
// MuseScore 3 carries), every voice filling every measure, and MuseScore 3
// itself as a reader.
#pragma once

#include <string>
#include <vector>

namespace skladba::test {

// Why a file written by --musicxml is not sound, or empty: it breaks the
// schema, or a voice does not fill a measure. Empty too when python3 or
// xmllint is missing (the check it needs is then left out).
std::string chybynotopisu(const std::string& slozka, const std::vector<std::string>& soubory);

// Where MuseScore's MIDI export (jejich) of our sheet music plays another
// tempo than our MIDI file (nase), by more than 1 quarter a minute, at each
// t; empty when it does not, or without python3.
std::string chybytempa(const std::string& slozka, const std::string& nase, const std::string& jejich);

// Where each measure of the first part of a MusicXML file starts, in MIDI
// ticks of 960 a quarter, and the end of the last: the running position of
// its notes, forwards and backups.
std::vector<int64_t> zacatkytaktu(const std::string& musicxml);

// How often a text occurs in another.
size_t pocet(const std::string& text, const std::string& co);

// Whether MuseScore 3 (mscore3) is installed.
bool jemusescore();
// Runs MuseScore on a file in slozka, writing vystup (a .mid, .pdf or .png);
// returns what it reported as errors, empty when none.
std::string musescore(const std::string& slozka, const std::string& soubor, const std::string& vystup);

}  // namespace skladba::test
