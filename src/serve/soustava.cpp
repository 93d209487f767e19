#include "serve/soustava.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace skladba {

namespace {

int rourapreruseni[2] = {-1, -1};

void zapispreruseni(int sig) {
    const int ulozene = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(rourapreruseni[1], &b, 1);
    errno = ulozene;
}

}  // namespace

void zachytavejpreruseni() {
    if (::pipe2(rourapreruseni, O_CLOEXEC) != 0) std::abort();
    ::fcntl(rourapreruseni[1], F_SETFL, O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = zapispreruseni;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(sig, &sa, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

int cekejnapreruseni() {
    unsigned char b = 0;
    for (;;) {
        const ssize_t n = ::read(rourapreruseni[0], &b, 1);
        if (n == 1) return b;
        if (n < 0 && errno == EINTR) continue;
        return 0;
    }
}

void probudhlavni() { zapispreruseni(0); }

std::string novaslozka() {
    const char* tmp = std::getenv("TMPDIR");
    std::string vzor = std::string(tmp && *tmp ? tmp : "/tmp") + "/skladba-serve-XXXXXX";
    if (!::mkdtemp(vzor.data())) return "";
    return vzor;
}

void smazslozku(const std::string& slozka) {
    std::error_code chyba;
    std::filesystem::remove_all(slozka, chyba);
}

bool otevriprohlizec(const std::string& url, std::string& chyba) {
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
    std::string adresa = url;
    char* argv[] = {program.data(), adresa.data(), nullptr};
    // Nobody waits for it: the kernel reaps it once it ends.
    ::signal(SIGCHLD, SIG_IGN);
    pid_t pid = 0;
    const int err = ::posix_spawnp(&pid, "xdg-open", &akce, &atributy, argv, environ);
    posix_spawn_file_actions_destroy(&akce);
    posix_spawnattr_destroy(&atributy);
    if (err != 0) {
        chyba = std::strerror(err);
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

void prevezmiprava(int fd, const std::string& cesta) {
    struct stat st {};
    if (::stat(cesta.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
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
