#include "base/chyba.h"

#include <cerrno>
#include <system_error>

namespace skladba {

void chybapartitury(const std::string& what) { throw ChybaPartitury(what); }

void chybasouboru(const std::string& what) { throw ChybaSouboru(what); }

void chybasouboru(const std::string& action, const std::string& path, int err) {
    throw ChybaSouboru(action + " " + path + ": " + popischyby(err));
}

void chybasouboruerrno(const std::string& action, const std::string& path) {
    chybasouboru(action, path, errno);
}

std::string popischyby(int err) { return std::generic_category().message(err); }

}  // namespace skladba
