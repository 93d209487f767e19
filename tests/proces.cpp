#include "proces.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace skladba::test {

namespace {

std::string docasnysoubor(const char* co) {
    std::string cesta = std::string(P_tmpdir) + "/skladba-" + co + "-XXXXXX";
    const int fd = ::mkstemp(cesta.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::close(fd);
    return cesta;
}

}  // namespace

std::string precti(const std::string& cesta) {
    std::ifstream in(cesta, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void zapis(const std::string& cesta, const std::string& bytes) {
    std::ofstream(cesta, std::ios::binary | std::ios::trunc) << bytes;
}

Proces::Proces(const Prikaz& prikaz) {
    out_ = docasnysoubor("out");
    err_ = docasnysoubor("err");
    if (!prikaz.vstup.empty()) {
        vstup_ = docasnysoubor("in");
        zapis(vstup_, prikaz.vstup);
    }
    std::vector<std::string> args{prikaz.program};
    args.insert(args.end(), prikaz.argumenty.begin(), prikaz.argumenty.end());
    pid_ = ::fork();
    if (pid_ != 0) return;
    if (!prikaz.slozka.empty() && ::chdir(prikaz.slozka.c_str()) != 0) ::_exit(120);
    const int in = ::open(vstup_.empty() ? "/dev/null" : vstup_.c_str(), O_RDONLY);
    const int out = ::open(out_.c_str(), O_WRONLY | O_TRUNC);
    const int err = ::open(err_.c_str(), O_WRONLY | O_TRUNC);
    if (in < 0 || out < 0 || err < 0) ::_exit(121);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    for (const auto& [name, value] : prikaz.prostredi) {
        if (value.empty()) {
            ::unsetenv(name.c_str());
        } else {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    for (const auto& [zdroj, bajtu] : {std::pair{RLIMIT_FSIZE, prikaz.limitsouboru}, {RLIMIT_AS, prikaz.limitpameti}}) {
        const rlimit limit{static_cast<rlim_t>(bajtu), static_cast<rlim_t>(bajtu)};
        if (bajtu > 0) ::setrlimit(zdroj, &limit);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(122);
}

Proces::~Proces() {
    if (!skoncil_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        dokonci();
    }
    ::unlink(out_.c_str());
    ::unlink(err_.c_str());
    if (!vstup_.empty()) ::unlink(vstup_.c_str());
}

void Proces::signal(int sig) const { ::kill(pid_, sig); }

Beh Proces::dokonci() {
    Beh r;
    int raw = 0;
    rusage usage{};
    if (pid_ > 0 && ::wait4(pid_, &raw, 0, &usage) == pid_) {
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        r.pametkb = usage.ru_maxrss;
    }
    skoncil_ = true;
    r.out = precti(out_);
    r.err = precti(err_);
    return r;
}

Beh spust(const Prikaz& prikaz) { return Proces(prikaz).dokonci(); }

Prikaz vslozce(const std::string& slozka, const std::vector<std::string>& argumenty,
               const std::string& vstup) {
    Prikaz p;
    p.slozka = slozka;
    p.argumenty = argumenty;
    p.vstup = vstup;
    return p;
}

Beh skladba(const std::string& slozka, const std::vector<std::string>& argumenty,
            const std::string& vstup) {
    return spust(vslozce(slozka, argumenty, vstup));
}

}  // namespace skladba::test
