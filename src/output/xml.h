// Text for the XML files skladba writes (the piano roll, sheet music).
#pragma once

#include <string>

namespace skladba {

// Markup characters escaped, control bytes and bytes that are not UTF-8
// replaced, since a file name may hold any byte.
std::string proxml(const std::string& s);

}  // namespace skladba
