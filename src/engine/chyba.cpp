#include "engine/chyba.h"

#include <cerrno>

#include "platform/system.h"

namespace skladba {

void chybaPartitury(const std::string& what) { throw ChybaPartitury(what); }

void chybaSouboru(const std::string& what) { throw ChybaSouboru(what); }

void chybaSouboruErrno(const std::string& action, const char* path) {
    int err = errno;
    throw ChybaSouboru(action + " " + path + ": " + platform::errorText(err));
}

}  // namespace skladba
