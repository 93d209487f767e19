#include "lsp/procesy.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/nota.h"
#include "platform/system.h"

extern char** environ;

namespace skladba::lsp {

namespace {

std::vector<std::string> sregistry(std::vector<std::string> a, const std::string& rejstriky) {
    if (!rejstriky.empty()) {
        a.push_back("--registers");
        a.push_back(rejstriky);
    }
    return a;
}

std::string popisstatusu(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

}  // namespace

std::shared_ptr<Procesy::Dite> Procesy::spust(const std::vector<std::string>& argumenty, int* vystup) {
    const std::string program = platform::cestaprogramu();
    if (program.empty()) return nullptr;
    int roura[2] = {-1, -1};
    if (vystup && ::pipe2(roura, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t akce;
    posix_spawn_file_actions_init(&akce);
    // Never the server's own standard input and output: they carry the protocol.
    posix_spawn_file_actions_addopen(&akce, 0, "/dev/null", O_RDONLY, 0);
    if (vystup) {
        posix_spawn_file_actions_adddup2(&akce, roura[1], 1);
        posix_spawn_file_actions_adddup2(&akce, roura[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&akce, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&akce, 2, "/dev/null", O_WRONLY, 0);
    }
    std::vector<std::string> a = argumenty;
    a.insert(a.begin(), program);
    std::vector<char*> argv;
    for (std::string& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int e = ::posix_spawn(&pid, program.c_str(), &akce, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&akce);
    if (vystup) ::close(roura[1]);
    if (e != 0) {
        if (vystup) ::close(roura[0]);
        return nullptr;
    }
    if (vystup) *vystup = roura[0];
    auto d = std::make_shared<Dite>();
    d->pid = pid;
    d->bezi = true;
    deti_.push_back(d);
    return d;
}

void Procesy::cekej(std::shared_ptr<Dite> d, int fd, std::function<void(int, const std::string&)> potom,
                    std::function<void(const std::string&)> radek) {
    vlakna_.emplace_back([this, d, fd, potom, radek] {
        std::string text, rozepsany;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (text.size() < 65536) text.append(buf, static_cast<size_t>(n));
            if (radek) {
                rozepsany.append(buf, static_cast<size_t>(n));
                for (size_t k; (k = rozepsany.find('\n')) != std::string::npos;) {
                    radek(rozepsany.substr(0, k));
                    rozepsany.erase(0, k + 1);
                }
            }
        }
        ::close(fd);
        int status = 0;
        while (::waitpid(d->pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            std::lock_guard<std::mutex> z(zamek_);
            d->bezi = false;
        }
        potom(status, text);
    });
}

void Procesy::vykresli(const std::string& cesta, const std::string& rejstriky, Ohlas ohlas) {
    std::lock_guard<std::mutex> z(zamek_);
    int fd = -1;
    auto d = spust(sregistry({cesta}, rejstriky), &fd);
    if (!d) return ohlas(1, "skladba: cannot start a render of " + cesta);
    cekej(d, fd, [cesta, ohlas](int status, const std::string& text) {
        if (status == 0) {
            ohlas(3, "skladba: rendered " + cesta + (text.empty() ? "" : "\n" + text));
        } else {
            ohlas(1, "skladba: the render of " + cesta + " failed (" + popisstatusu(status) + ")\n" + text);
        }
    });
}

void Procesy::hraj(const std::string& cesta, double od, const std::string& rejstriky, Ohlas ohlas) {
    std::lock_guard<std::mutex> z(zamek_);
    if (hrani_ && hrani_->bezi) ::kill(hrani_->pid, SIGINT);
    int fd = -1;
    auto d = spust(sregistry({"play", "--from", desetinne(od, 3), cesta}, rejstriky), &fd);
    if (!d) return ohlas(1, "skladba: cannot start playing " + cesta);
    hrani_ = d;
    ohlas(3, "skladba: playing " + cesta + " from " + popiscasu(od, 2));
    cekej(d, fd, [ohlas](int status, const std::string& text) {
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0) ohlas(1, text);
    });
}

void Procesy::otevri(const std::string& cesta, const std::string& rejstriky, Ohlas ohlas) {
    std::lock_guard<std::mutex> z(zamek_);
    if (server_ && server_->bezi && !adresa_.empty()) return ohlas(3, "skladba serve: " + adresa_);
    int fd = -1;
    auto d = spust(sregistry({"serve", cesta}, rejstriky), &fd);
    if (!d) return ohlas(1, "skladba: cannot start skladba serve");
    server_ = d;
    adresa_.clear();
    auto prvni = std::make_shared<bool>(true);
    cekej(
        d, fd,
        [ohlas, prvni](int status, const std::string& text) {
            if (*prvni) ohlas(1, "skladba serve ended (" + popisstatusu(status) + ")\n" + text);
        },
        [this, ohlas, prvni](const std::string& radek) {
            if (!*prvni || radek.compare(0, 7, "http://") != 0) return;
            *prvni = false;
            {
                std::lock_guard<std::mutex> z(zamek_);
                adresa_ = radek;
            }
            ohlas(3, "skladba serve: " + radek);
        });
}

void Procesy::ukonci() {
    std::vector<std::thread> vlakna;
    {
        std::lock_guard<std::mutex> z(zamek_);
        for (const auto& d : deti_) {
            if (d->bezi) ::kill(d->pid, SIGINT);
        }
        vlakna.swap(vlakna_);
    }
    for (std::thread& v : vlakna) v.join();
}

}  // namespace skladba::lsp
