#include "serve/soustava.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <vector>
#include <limits.h>
#include <spawn.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace skladba {

namespace {

const char predpona[] = "skladba-serve-";
const char zamek[] = "/zamek";

// Removes the scratch folders in tmp of this account's servers that are gone.
void uklid(const std::string& tmp) {
    DIR* d = ::opendir(tmp.c_str());
    if (!d) return;
    std::vector<std::string> opustene;
    while (const dirent* e = ::readdir(d)) {
        const std::string jmeno = e->d_name;
        if (jmeno.size() != sizeof predpona - 1 + 6 || jmeno.compare(0, sizeof predpona - 1, predpona) != 0) continue;
        const std::string slozka = tmp + "/" + jmeno;
        struct stat st {};
        if (::lstat(slozka.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) continue;
        const int fd = ::open((slozka + zamek).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            // Its server holds the lock while it runs.
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) opustene.push_back(slozka);
            ::close(fd);
        } else if (errno == ENOENT && st.st_mtime < ::time(nullptr) - 60) {
            // A server that was killed before it could lock it (or older
            // than the lock): a server starting now locks it at once.
            opustene.push_back(slozka);
        }
    }
    ::closedir(d);
    for (const std::string& s : opustene) smazslozku(s);
}

}  // namespace

std::string novaslozka() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string koren = tmp && *tmp ? tmp : "/tmp";
    uklid(koren);
    std::string vzor = koren + "/" + predpona + "XXXXXX";
    if (!::mkdtemp(vzor.data())) return "";
    // Held, never closed, until the process ends.
    const int fd = ::open((vzor + zamek).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        smazslozku(vzor);
        errno = err;
        return "";
    }
    return vzor;
}

void smazslozku(const std::string& slozka) {
    std::error_code chyba;
    std::filesystem::remove_all(slozka, chyba);
}

bool otevriprohlizec(const std::string& url, const std::string& slozka, std::string& chyba) {
    std::string html;
    for (const char c : url) {
        if (c == '&') html += "&amp;";
        else if (c == '"') html += "&quot;";
        else if (c == '<') html += "&lt;";
        else if (c == '>') html += "&gt;";
        else html += c;
    }
    const std::string stranka = "<!doctype html>\n<meta charset=\"utf-8\">\n<meta name=\"referrer\" content=\"no-referrer\">\n"
                                "<meta http-equiv=\"refresh\" content=\"0; url=" + html + "\">\n<title>skladba serve</title>\n"
                                "<a href=\"" + html + "\">Open the editor</a>\n";
    const std::string cesta = slozka + "/otevri.html";
    const int fd = ::open(cesta.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        chyba = std::string("cannot write ") + cesta + ": " + std::strerror(errno);
        return false;
    }
    const bool zapsano = ::write(fd, stranka.data(), stranka.size()) == static_cast<ssize_t>(stranka.size());
    const int chybazapisu = errno;
    ::close(fd);
    if (!zapsano) {
        chyba = std::string("cannot write ") + cesta + ": " + std::strerror(chybazapisu);
        return false;
    }
    // The file's address: its path with the bytes a URL cannot hold escaped.
    std::string soubor = "file://";
    for (const char c : cesta) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || std::strchr("/-._~", c)) {
            soubor += c;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", b);
            soubor += buf;
        }
    }
    posix_spawn_file_actions_t akce;
    posix_spawn_file_actions_init(&akce);
    // The browser's chatter stays out of the server's terminal.
    posix_spawn_file_actions_addopen(&akce, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&akce, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&akce, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Its own process group, so that Ctrl-C in the server's terminal stops
    // the server, not the browser.
    posix_spawnattr_t atributy;
    posix_spawnattr_init(&atributy);
    posix_spawnattr_setflags(&atributy, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&atributy, 0);
    std::string program = "xdg-open";
    std::string adresa = soubor;
    char* argv[] = {program.data(), adresa.data(), nullptr};
    // Nobody waits for it: the kernel reaps it once it ends.
    ::signal(SIGCHLD, SIG_IGN);
    pid_t pid = 0;
    const int err = ::posix_spawnp(&pid, "xdg-open", &akce, &atributy, argv, environ);
    posix_spawn_file_actions_destroy(&akce);
    posix_spawnattr_destroy(&atributy);
    if (err != 0) {
        chyba = std::string("cannot start xdg-open: ") + std::strerror(err);
        return false;
    }
    return true;
}

std::string skutecnacesta(const std::string& cesta) {
    char buf[PATH_MAX];
    if (::realpath(cesta.c_str(), buf)) return buf;
    return cesta;
}

bool lzeprepsat(const std::string& cesta) { return ::access(cesta.c_str(), W_OK) == 0; }

unsigned pravasouboru(const std::string& cesta, unsigned jinak) {
    struct stat st {};
    return ::lstat(cesta.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & 07777 : jinak;
}

bool jeadresa(const std::string& text) {
    unsigned char buf[16];
    return ::inet_pton(AF_INET, text.c_str(), buf) == 1 || ::inet_pton(AF_INET6, text.c_str(), buf) == 1;
}

std::string jmenopocitace() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return "";
    return buf;
}

}  // namespace skladba
