// The two ways a run can fail. Both are thrown up to the run sequence, which
// cleans up and turns them into a message and an exit status; nothing below
// it prints or exits.
#pragma once

#include <stdexcept>
#include <string>

namespace skladba {

// Something in the score itself is wrong. Reported as
// "SCORE:LINE:COLUMN: what", located at the command being carried out.
struct ChybaPartitury : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A file could not be opened, read or written, or the run was otherwise
// prevented. The message is complete as it stands.
struct ChybaSouboru : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void chybapartitury(const std::string& what);
[[noreturn]] void chybasouboru(const std::string& what);
// "<action> <path>: <system reason>" for the error number err.
[[noreturn]] void chybasouboru(const std::string& action, const std::string& path, int err);
// The same for the current errno.
[[noreturn]] void chybasouboruerrno(const std::string& action, const std::string& path);

// A file name as messages print it: as it is, unless it holds a control
// character (an escape sequence, a newline that would split FILE:LINE:COL),
// then quoted as a shell reads it back: 'a'$'\n''b'.
std::string ukazjmeno(const std::string& jmeno);

// The system's text for an error number ("No such file or directory").
std::string popischyby(int err);

}  // namespace skladba
