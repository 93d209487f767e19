// A look at a SoundFont's own tables before the synthesiser loads it.
//
// The synthesiser trusts what a SoundFont file says: a key number of 32767
// in an instrument, a sample header pointing past the sample data or a
// zone naming an instrument that does not exist make it read outside its
// tables when a note is played, and crash. So the RIFF structure, the
// indices between the tables, the generators that the synthesiser uses as
// indices and the sample headers are checked here first; a file that fails
// is not handed to the synthesiser at all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace skladba::registers {

// One table of a SoundFont's pdta chunk: `count` records of `width` bytes.
struct SoundFontTable {
    const char* id;
    std::size_t width;
    std::size_t least;  // records it must hold, its terminal one included
    const unsigned char* data = nullptr;
    std::size_t count = 0;
    const unsigned char* at(std::size_t i) const { return data + i * width; }
};

// The preset tables of a SoundFont that passed checkSoundFont: every index
// from one table into another lies inside it, every key number and root key
// inside 0 to 127, and every sample an instrument plays inside the sample
// data (its loop points are not checked). The tables point into `bytes`.
struct SoundFontTables {
    std::vector<unsigned char> bytes;
    SoundFontTable phdr{"phdr", 38, 2}, pbag{"pbag", 4, 1}, pmod{"pmod", 10, 1}, pgen{"pgen", 4, 1},
        inst{"inst", 22, 2}, ibag{"ibag", 4, 1}, imod{"imod", 10, 1}, igen{"igen", 4, 1}, shdr{"shdr", 46, 2};
    SoundFontTables() = default;
    SoundFontTables(const SoundFontTables&) = delete;
    SoundFontTables& operator=(const SoundFontTables&) = delete;
};

// True when the SoundFont at `path` (a regular file) can be given to the
// synthesiser; otherwise false with `why` saying what is wrong with it, in
// words such as "the file ends inside its pdta chunk".
// With `tables`, the checked tables are kept there.
bool checkSoundFont(const std::string& path, std::string& why, SoundFontTables* tables = nullptr);

}  // namespace skladba::registers
