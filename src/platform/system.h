// Thin layer over the operating system: files, positional and streamed I/O,
// links and special files, the lock on the mix file and watching a file for
// changes (system.cpp); the process and its clock (proces.cpp); memory
// (pamet.cpp); the console (terminal.cpp); signals and the clean-up paths
// used on interruption (signaly.cpp). Everything above this layer is plain
// portable C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>
#include <sys/types.h>

namespace skladba::platform {

// The raw I/O calls, replaceable so that tests can inject short writes,
// failing writes and corrupted read-backs. Everything that reads or writes
// the mix file or the WAV goes through these.
struct Volani {
    ssize_t (*pread)(int fd, void* buf, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void* buf, size_t count, off_t offset);
    ssize_t (*write)(int fd, const void* buf, size_t count);
};
Volani& volani();
void obnovvolani();

// An owned file descriptor, closed on destruction.
class Soubor {
public:
    Soubor() = default;
    explicit Soubor(int fd) : fd_(fd) {}
    Soubor(const Soubor&) = delete;
    Soubor& operator=(const Soubor&) = delete;
    Soubor(Soubor&& other) noexcept : fd_(other.uvolni()) {}
    Soubor& operator=(Soubor&& other) noexcept;
    ~Soubor();

    bool otevren() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int uvolni();
    void zavri();

private:
    int fd_ = -1;
};

// Zeroed memory of its own, straight from the system, in whole pieces of
// velikostdilu (2 MiB) aligned to it, so that the kernel may back each with
// one huge page: a large mix or register cache is then made in a few page
// faults instead of one every 4 KiB. Given back on destruction. An
// allocation the system refuses throws std::bad_alloc, as new does.
class Pamet {
public:
    static constexpr size_t velikostdilu = size_t{2} << 20;
    Pamet() = default;
    explicit Pamet(size_t bajtu);
    Pamet(const Pamet&) = delete;
    Pamet& operator=(const Pamet&) = delete;
    Pamet(Pamet&& o) noexcept : p_(o.p_), n_(o.n_) { o.p_ = nullptr, o.n_ = 0; }
    Pamet& operator=(Pamet&& o) noexcept;
    ~Pamet();
    void* data() const { return p_; }
    size_t velikost() const { return n_; }

private:
    void* p_ = nullptr;
    size_t n_ = 0;
};

// Open for reading; on failure the Soubor is closed and errno says why. Never
// blocks: a named pipe opens at once instead of waiting for a writer, and
// reads from it find its end when no writer is there.
Soubor otevriprocteni(const char* path);
// Standard input, output and error that are closed get /dev/null, so that no
// file the run opens later takes their numbers (a WAV written to standard
// output would land in whatever file got descriptor 1). Returns which were
// closed: bit 0 for standard input, bit 1 output, bit 2 error.
int obsadstandardni();
// A descriptor of its own for standard input.
Soubor standardnivstup();
// A named pipe opened without blocking reads as ended while no one has opened
// it for writing yet: this waits, as any reader of a pipe does, until a
// writer has written to it or gone. Other files return at once.
void cekejnapisatele(int fd);
// Lets reads from a descriptor opened without blocking wait for data again.
void nastavblokujici(int fd);

// A scratch file of this program's own (the mix), opened for reading and
// writing and locked: created when missing; a symbolic link, a pipe, a
// device or a file with other hard links standing under the name is removed
// as a name first, so that nothing it points to is ever opened or written. A
// regular file left by an interrupted run is taken over as it is. On failure
// the Soubor is closed and errno says why: EWOULDBLOCK when another process
// holds the lock, EBUSY when the name keeps being replaced under our hands.
Soubor otevrizamceny(const char* path);
// Create or truncate for writing, following links: for files of a test or
// benchmark in a folder of its own, never for the program's outputs.
Soubor vytvorprozapis(const char* path);
// A new file for writing under a temporary name of this program's own:
// whatever stands under the name (a file of an interrupted run, a link, a
// pipe) is removed as a name first, and the file is created exclusively, so
// no write ever goes through a link or into a special file. It is created
// readable by its owner only, so that no one else can open it while it is
// written; nastavprava gives it its final mode once it is complete.
Soubor vytvornovy(const char* path);
// The mode a new file gets from the umask (0666 without its bits).
unsigned pravanovych();
// From now on every file this process makes is its owner's only (umask 077).
void jensvoje();
// Gives the open file fd the permission bits mode; false with errno set.
bool nastavprava(int fd, unsigned mode);

// A whole regular file of at most limit bytes, opened without following a
// link at the end of the path and without blocking (a named pipe or a device
// is never waited for nor read).
enum class Cteni { obsah, chybi, jiny, velky, chyba };   // chyba: errno says why
struct Precteny {
    Cteni stav = Cteni::chyba;
    std::string bajty;
    uint64_t zarizeni = 0, inode = 0;   // the file read
};
Precteny ctisoubor(const char* path, size_t limit);

// Fills buf with bytes from the system's random source; false when it has none.
bool nahodne(void* buf, size_t count);

// What a path names, not following a link at its end.
enum class Druh { zadny, obycejny, odkaz, slozka, jiny };
Druh druh(const char* path);
// A folder, following links (a linked folder is a folder).
bool jeslozka(const char* path);
// Whether this process may create files in the folder; false with errno set.
bool lzezapsatdo(const char* folder);
// True when both paths name the same existing file.
bool tentyz(const char* a, const char* b);
// The path with its folder resolved (links, "." and ".." followed) and its
// last name as it is, so that two names of one file are seen to be one even
// before the file exists. The path unchanged when its folder cannot be
// resolved.
std::string vyresenacesta(const std::string& path);

// Reads up to count bytes at offset, retrying interrupted and partial reads
// until count bytes are in or the file ends. Returns the bytes read, or -1.
ssize_t ctivse(int fd, void* buf, size_t count, off_t offset);
// The same from the current position of a pipe or terminal.
ssize_t ctiproud(int fd, void* buf, size_t count);
// A write that keeps failing or coming back short is given up after this
// many tries, so a full disk ends the run instead of spinning forever.
constexpr int pokusyzapisu = 8;

// The one loop that writes: all count bytes, by position from offset, or at
// the current position of a pipe or terminal when offset is negative. An
// interrupted call is repeated at once; a call that writes only part goes on
// with the rest, and one that fails is tried again, pokusyzapisu calls at
// most. Returns false with errno set: the reason of the last failing call,
// or, when the calls only kept coming back short, the reason one more write
// of the rest gives (ENOSPC, EFBIG), EIO when even that gives none.
// opakovani, when given, counts the calls that had to be repeated.
bool zapisvse(int fd, const void* buf, size_t count, off_t offset, int* opakovani = nullptr);
// The same at the current position of a pipe or terminal.
inline bool zapisproud(int fd, const void* buf, size_t count) { return zapisvse(fd, buf, count, -1); }

int64_t velikost(int fd);                      // -1 on failure
int64_t pozicecteni(int fd);                   // the current offset; -1 on failure
bool jeobycejny(int fd);                       // false also on failure
bool jeobycejnysoubor(const char* path);       // following links; false also on failure
bool nastavvelikost(int fd, int64_t bytes);    // cut or extend (reading as zeros)
bool synchronizuj(int fd);

// Which file a descriptor is open on.
struct Totoznost {
    uint64_t zarizeni = 0, inode = 0;
};
Totoznost totoznost(int fd);
// The file a path names, following links; zero when there is none.
Totoznost totoznost(const char* path);
// Whether both name one existing file.
inline bool tentyz(const Totoznost& a, const Totoznost& b) {
    return a.inode != 0 && a.zarizeni == b.zarizeni && a.inode == b.inode;
}
// Renames a temporary file of this program's into place, by name, only
// while from still names the very file it wrote (not a link, not another
// file put in its place), and checks afterwards that to names it.
enum class Prejmenovani { hotovo, nahrazenpred, nahrazenpo, chyba };   // chyba: errno says why
Prejmenovani prejmenujsvuj(const char* from, const char* to, const Totoznost& soubor);
// Removes a temporary file of this program's by name, only while the name
// still names that very file.
void smazsvuj(const char* path, const Totoznost& soubor);

// An exclusive, non-blocking lock held until the descriptor is closed.
// Returns false with errno EWOULDBLOCK when another process holds it.
bool zamkni(int fd);
// True when path names the file open as fd, not following a link at its end
// (it was not replaced or removed since it was opened).
bool tentyzsoubor(int fd, const char* path);

// The absolute path of the running program, empty when it cannot be found.
std::string cestaprogramu();
// Whether path names a regular file this process may run.
bool lzespustit(const char* path);
// Replaces this process with the program at path, run with the arguments
// (the first is the name it sees itself by). Returns only when that fails,
// with errno set.
void nahradproces(const std::string& path, const std::vector<std::string>& argumenty);
// The longest name of a file in a folder.
constexpr size_t nejdelsijmeno = 255;
// This process's number, for names no other process uses.
long cisloprocesu();
// The value of an environment variable, empty when it is not set.
std::string promenna(const char* name);

// Console: whether standard input, output and error are terminals.
bool vstupjeterminal();
bool vystupjeterminal();
bool chybjeterminal();
// Blocks for one key press without echo (only meaningful on a terminal).
void cekejnaklavesu();
// Keys one by one without echo, reads never waiting (the player's keys),
// until obnovterminal; an interruption puts the terminal back too.
void surovyterminal();
void obnovterminal();

// Seconds since some fixed moment, for measuring how long things take.
double ted();
void spi(int milisekund);

// What is known of a file without reading it: enough to notice that it was
// written, replaced by a rename, removed or brought back.
struct Otisk {
    bool existuje = false;
    uint64_t zarizeni = 0, inode = 0;
    int64_t velikost = 0, zmeneno = 0, zmenenostav = 0;   // nanoseconds
    bool operator==(const Otisk& o) const;
    bool operator!=(const Otisk& o) const { return !(*this == o); }
};
// nasledovat = false: of a link itself, not of the file it leads to.
Otisk otisk(const char* path, bool nasledovat = true);
// Of an open file.
Otisk otisk(int fd);

// The one way skladba watches a file: by what otisk tells of it, looked at
// when the caller asks, never by reading it.
class Hlidac {
public:
    explicit Hlidac(std::string path, bool nasledovat = true) : path_(std::move(path)), nasledovat_(nasledovat) {}
    // Looks once. When the file is not as last seen, waits until it holds
    // still (another program may write it in several steps: klidms between
    // looks, at most pokusu of them; a file that goes away holds still),
    // takes it as seen and returns true.
    bool zmena(int klidms, int pokusu);
    const Otisk& posledni() const { return posledni_; }
    // Takes the file as it stands now as seen (after the caller wrote it).
    void prijmi() { posledni_ = otisk(path_.c_str(), nasledovat_); }

private:
    std::string path_;
    bool nasledovat_;
    Otisk posledni_;
};

// Files the process must remove if it is interrupted. Each file marked
// takes a slot of its own, held until it is unmarked, so that renders
// running side by side in one process (the editor's server) never take
// each other's files off the list. Marking returns the slot, or -1 when
// all of them are taken (the file is then simply not removed on an
// interruption); unmarking -1 does nothing.
constexpr int pocetdocasnych = 64;
// A marked empty folder is removed too, after the files.
int oznacdocasny(const std::string& path);
void odznacdocasny(int slot);
// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2,
// SIGVTALRM and SIGPROF remove the marked files, restore the terminal if a
// key wait had changed it, and exit with 128 + signal. SIGPIPE
// and SIGXFSZ are ignored, so that the write that met a closed pipe or the
// file-size limit fails and reports why.
void nastavpreruseni();
// Holds those signals back while a run makes its result final.
void zadrzpreruseni();
void pustpreruseni();
// The same for as long as it lives, however the block it guards is left
// (not nested: its end lets every signal through).
class ZadrzenaPreruseni {
public:
    ZadrzenaPreruseni() { zadrzpreruseni(); }
    ~ZadrzenaPreruseni() { pustpreruseni(); }
    ZadrzenaPreruseni(const ZadrzenaPreruseni&) = delete;
    ZadrzenaPreruseni& operator=(const ZadrzenaPreruseni&) = delete;
};
// For a server, instead of nastavpreruseni: from now on Ctrl-C, termination, hang-up and quit only write their number
// into a pipe that cekejnapreruseni reads, whichever thread they reach, so
// that the server can stop in order; SIGPIPE and SIGXFSZ are ignored.
void zachytavejpreruseni();
// Blocks until one of those signals comes and returns its number, or 0 when
// probudhlavni was called.
int cekejnapreruseni();
// Wakes cekejnapreruseni with 0: the server has ended by itself.
void probudhlavni();

// From now on an interruption ends the process with status 0: the result is
// in place, and a signal that arrives now cannot make it a failure.
void oznacuspech();

}  // namespace skladba::platform
