// The one process harness of the tests: runs a program (skladba itself, by
// default) as a user would, in a directory of the test's choosing, and
// collects its exit status, standard output and error, and peak memory.
// Standard output and error are kept outside the directory, so that it
// holds only what the program itself leaves there.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace skladba::test {

struct Beh {
    int status = -1;      // exit status, or 128 + signal
    std::string out;      // standard output
    std::string err;      // standard error
    long pametkb = 0;     // peak resident memory, kilobytes
};

struct Prikaz {
    std::string slozka;                    // working directory
    std::vector<std::string> argumenty;    // after the program name
    std::string vstup;                     // standard input; /dev/null when empty
    std::vector<std::pair<std::string, std::string>> prostredi;   // set (empty value: unset)
    long limitsouboru = 0;                 // largest file it may write, bytes (0: no limit)
    long limitpameti = 0;                  // address space it may take, bytes (0: no limit)
    std::string program = SKLADBA_BINARY;
};

// skladba with these arguments in slozka.
Prikaz vslozce(const std::string& slozka, const std::vector<std::string>& argumenty = {},
               const std::string& vstup = "");

// A program started in the background.
class Proces {
public:
    explicit Proces(const Prikaz& prikaz);
    ~Proces();
    Proces(const Proces&) = delete;
    Proces& operator=(const Proces&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig) const;
    // Waits for it to end.
    Beh dokonci();

private:
    pid_t pid_ = -1;
    std::string vstup_, out_, err_;
    bool skoncil_ = false;
};

// Runs it to the end.
Beh spust(const Prikaz& prikaz);
// Runs skladba with these arguments in slozka to the end.
Beh skladba(const std::string& slozka, const std::vector<std::string>& argumenty = {},
            const std::string& vstup = "");

// Whole files, for reading what a run left behind and writing what it reads.
std::string precti(const std::string& cesta);
void zapis(const std::string& cesta, const std::string& bytes);

}  // namespace skladba::test
