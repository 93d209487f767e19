// Signals: the scratch files removed on an interruption, and an interruption
// handed to a waiting thread.
#include "platform/system.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace skladba::platform {

namespace {

// Paths are copied here, so that the signal handler reads only memory that
// never moves. A slot is free (0), being filled or emptied (1), or marks
// its path for removal (2); a lock-free atomic is safe to read in a handler.
char docasnacesta[pocetdocasnych][PATH_MAX];
std::atomic<int> docasnyslot[pocetdocasnych] = {};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");
volatile std::sig_atomic_t uspech = 0;

void smazdocasneaskonci(int sig) {
    obnovterminal();
    for (int i = 0; i < pocetdocasnych; ++i) {
        if (docasnyslot[i].load() == 2) ::unlink(docasnacesta[i]);
    }
    // A marked folder (the player's scratch folder) once the files in it are gone.
    for (int i = 0; i < pocetdocasnych; ++i) {
        if (docasnyslot[i].load() == 2) ::rmdir(docasnacesta[i]);
    }
    ::_exit(uspech ? 0 : 128 + sig);
}

// Every signal whose default action ends the process and that a user, a
// shell, a time limit or a profiler may send: each must take the scratch
// files with it.
const int preruseni[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF};

sigset_t mnozinapreruseni() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : preruseni) sigaddset(&set, sig);
    return set;
}

}  // namespace

int oznacdocasny(const std::string& path) {
    for (int i = 0; i < pocetdocasnych; ++i) {
        int volny = 0;
        if (!docasnyslot[i].compare_exchange_strong(volny, 1)) continue;
        // The handler looks at the path only once the slot says 2, so it
        // never sees half of one.
        const size_t n = path.size() < PATH_MAX - 1 ? path.size() : PATH_MAX - 1;
        std::memcpy(docasnacesta[i], path.data(), n);
        docasnacesta[i][n] = '\0';
        docasnyslot[i].store(2);
        return i;
    }
    return -1;
}

void odznacdocasny(int slot) {
    if (slot >= 0 && slot < pocetdocasnych) docasnyslot[slot].store(0);
}

namespace {

// SIGPIPE and SIGXFSZ are ignored, so that the write that met a closed pipe
// or the file-size limit fails and reports why.
void ignorujrouruavelikost() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace

void nastavpreruseni() {
    struct sigaction sa {};
    sa.sa_handler = smazdocasneaskonci;
    sa.sa_mask = mnozinapreruseni();
    for (int sig : preruseni) ::sigaction(sig, &sa, nullptr);
    ignorujrouruavelikost();
}

void zadrzpreruseni() {
    const sigset_t set = mnozinapreruseni();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

void pustpreruseni() {
    const sigset_t set = mnozinapreruseni();
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void oznacuspech() { uspech = 1; }

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
    ignorujrouruavelikost();
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

}  // namespace skladba::platform
