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

#include <string>

namespace skladba::registers {

// True when the SoundFont at `path` (a regular file) can be given to the
// synthesiser; otherwise false with `why` saying what is wrong with it, in
// words such as "the file ends inside its pdta chunk".
bool checkSoundFont(const std::string& path, std::string& why);

}  // namespace skladba::registers
