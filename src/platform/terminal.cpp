// The console: whether a stream is a terminal, and keys read one at a time.
#include "platform/system.h"

#include <cerrno>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace skladba::platform {

bool vstupjeterminal() { return ::isatty(STDIN_FILENO) == 1; }
bool vystupjeterminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool chybjeterminal() { return ::isatty(STDERR_FILENO) == 1; }

namespace {

// The terminal settings in force before cekejnaklavesu changed them, so that an
// interruption during the wait can put them back (the signal handler calls
// obnovterminal: tcsetattr is safe there).
termios ulozenyterminal {};
volatile std::sig_atomic_t terminalzmenen = 0;

// Keys one at a time without echo: a read waits for one key (vmin 1) or
// returns at once (vmin 0). The settings before are kept to put back.
void bezozveny(cc_t vmin) {
    termios t = ulozenyterminal;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = vmin;
    t.c_cc[VTIME] = 0;
    terminalzmenen = 1;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
}

}  // namespace

void cekejnaklavesu() {
    if (::tcgetattr(STDIN_FILENO, &ulozenyterminal) == 0) bezozveny(1);
    char c;
    while (::read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR) {
    }
    if (terminalzmenen) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &ulozenyterminal);
        terminalzmenen = 0;
    }
}

void surovyterminal() {
    if (terminalzmenen || ::tcgetattr(STDIN_FILENO, &ulozenyterminal) != 0) return;
    bezozveny(0);
}

void obnovterminal() {
    if (!terminalzmenen) return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &ulozenyterminal);
    terminalzmenen = 0;
}

}  // namespace skladba::platform
