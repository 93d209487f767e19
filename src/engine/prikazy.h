// The command table: one entry per command character of the score language.
#pragma once

namespace skladba {

using Prikaz = void (*)();

// The command for a byte, or nullptr when the byte has no meaning (spaces,
// line breaks and everything else without an entry is ignored; a bar line
// only tells an observer where it stands).
Prikaz prikazpro(char znak);

}  // namespace skladba
