#include "serve/prijem.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace skladba {

namespace {

// How long a connection may stay without a request, and how long a write may wait.
constexpr int necinnost = 5;
constexpr int cekanizapisu = 5;
constexpr size_t nejdelsihlavicka = 16 * 1024;

double ted() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Spojeni {
    int sock = -1;
    std::string klient;
    std::string prijato;       // read but not yet taken
    size_t vzato = 0;
    double od = 0, lhuta = 0;  // when it began to wait; by when its request must be in

    bool hlavicka() const {
        return prijato.find("\r\n\r\n", vzato) != std::string::npos || prijato.size() - vzato >= nejdelsihlavicka;
    }
};

std::string adresa(const sockaddr_storage& a, int& port) {
    char buf[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET6) {
        const auto* s = reinterpret_cast<const sockaddr_in6*>(&a);
        ::inet_ntop(AF_INET6, &s->sin6_addr, buf, sizeof buf);
        port = ntohs(s->sin6_port);
    } else {
        const auto* s = reinterpret_cast<const sockaddr_in*>(&a);
        ::inet_ntop(AF_INET, &s->sin_addr, buf, sizeof buf);
        port = ntohs(s->sin_port);
    }
    return buf;
}

// A connection's reads, first from what was read while its head was
// awaited; every read ends at the request's deadline.
class Proud : public httplib::Stream {
public:
    explicit Proud(Spojeni& s) : s_(s) {}

    bool is_readable() const override { return s_.vzato < s_.prijato.size() || cekej(POLLIN, zbyva()); }
    bool is_writable() const override { return cekej(POLLOUT, cekanizapisu * 1000); }

    ssize_t read(char* ptr, size_t size) override {
        if (s_.vzato < s_.prijato.size()) {
            const size_t n = std::min(size, s_.prijato.size() - s_.vzato);
            std::copy_n(s_.prijato.data() + s_.vzato, n, ptr);
            s_.vzato += n;
            if (s_.vzato == s_.prijato.size()) {
                s_.prijato.clear();
                s_.vzato = 0;
            }
            return static_cast<ssize_t>(n);
        }
        if (!cekej(POLLIN, zbyva())) return -1;
        ssize_t n;
        do n = ::recv(s_.sock, ptr, size, 0);
        while (n < 0 && errno == EINTR);
        return n;
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!cekej(POLLOUT, cekanizapisu * 1000)) return -1;
        ssize_t n;
        do n = ::send(s_.sock, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage a {};
        socklen_t delka = sizeof a;
        if (::getpeername(s_.sock, reinterpret_cast<sockaddr*>(&a), &delka) == 0) ip = adresa(a, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage a {};
        socklen_t delka = sizeof a;
        if (::getsockname(s_.sock, reinterpret_cast<sockaddr*>(&a), &delka) == 0) ip = adresa(a, port);
    }
    socket_t socket() const override { return s_.sock; }

private:
    int zbyva() const { return std::max(0, static_cast<int>((s_.lhuta - ted()) * 1000)); }
    bool cekej(short co, int ms) const {
        pollfd p{s_.sock, co, 0};
        int n;
        do n = ::poll(&p, 1, ms);
        while (n < 0 && errno == EINTR);
        return n > 0 && (p.revents & co);
    }

    Spojeni& s_;
};

// The library hands each accepted connection to its task queue: this one
// takes it at once, in the listening thread, to the waiting room.
class Hned : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override { fn(); }
    void shutdown() override {}
};

thread_local bool zavrit = false;

}  // namespace

struct Prijem::Vnitrek {
    std::mutex m;
    std::condition_variable prace;
    std::deque<Spojeni> prichozi, hotove;   // to the waiting room; with a complete head, to a worker
    std::vector<int> obsluhovane;           // in a worker's hands
    bool konec = false;
    int budik[2] = {-1, -1};
    std::thread cekarna;
    std::vector<std::thread> delnici;

    void probud() {
        const char b = 0;
        [[maybe_unused]] const ssize_t n = ::write(budik[1], &b, 1);
    }
};

Prijem::Prijem(int vlaken) : v_(std::make_unique<Vnitrek>()) {
    new_task_queue = [] { return new Hned; };
    if (::pipe2(v_->budik, O_CLOEXEC | O_NONBLOCK) != 0) v_->budik[0] = v_->budik[1] = -1;

    v_->cekarna = std::thread([this] {
        Vnitrek& v = *v_;
        std::vector<Spojeni> cekajici;
        for (;;) {
            {
                std::lock_guard<std::mutex> zamek(v.m);
                if (v.konec) break;
                for (Spojeni& s : v.prichozi) {
                    // One client's waiting connections are bounded: its oldest goes.
                    const auto jeho = std::count_if(cekajici.begin(), cekajici.end(),
                                                    [&](const Spojeni& c) { return c.klient == s.klient; });
                    if (jeho >= nejvicnaklienta) {
                        auto nejstarsi = cekajici.end();
                        for (auto i = cekajici.begin(); i != cekajici.end(); ++i) {
                            if (i->klient == s.klient && (nejstarsi == cekajici.end() || i->od < nejstarsi->od)) nejstarsi = i;
                        }
                        ::close(nejstarsi->sock);
                        cekajici.erase(nejstarsi);
                    }
                    cekajici.push_back(std::move(s));
                }
                v.prichozi.clear();
            }
            std::vector<pollfd> p{{v.budik[0], POLLIN, 0}};
            double nejdriv = ted() + 1;
            for (const Spojeni& s : cekajici) {
                p.push_back({s.sock, POLLIN, 0});
                nejdriv = std::min(nejdriv, s.lhuta);
            }
            ::poll(p.data(), p.size(), std::max(0, static_cast<int>((nejdriv - ted()) * 1000) + 1));
            if (p[0].revents) {
                char buf[64];
                while (::read(v.budik[0], buf, sizeof buf) > 0) {
                }
            }
            const double nyni = ted();
            std::vector<Spojeni> dal;
            for (size_t i = 0; i < cekajici.size(); ++i) {
                Spojeni& s = cekajici[i];
                bool pryc = false;
                if (p[i + 1].revents) {
                    char buf[4096];
                    const ssize_t n = ::recv(s.sock, buf, sizeof buf, MSG_DONTWAIT);
                    if (n > 0) s.prijato.append(buf, static_cast<size_t>(n));
                    else if (n == 0 || (errno != EAGAIN && errno != EINTR)) pryc = true;
                }
                if (!pryc && s.hlavicka()) {
                    std::lock_guard<std::mutex> zamek(v.m);
                    v.hotove.push_back(std::move(s));
                    v.prace.notify_one();
                    continue;
                }
                if (pryc || nyni >= s.lhuta) {
                    ::close(s.sock);
                    continue;
                }
                dal.push_back(std::move(s));
            }
            cekajici = std::move(dal);
        }
        for (Spojeni& s : cekajici) ::close(s.sock);
    });

    for (int i = 0; i < vlaken; ++i) {
        v_->delnici.emplace_back([this] {
            Vnitrek& v = *v_;
            for (;;) {
                Spojeni s;
                {
                    std::unique_lock<std::mutex> zamek(v.m);
                    v.prace.wait(zamek, [&] { return v.konec || !v.hotove.empty(); });
                    if (v.konec) return;
                    s = std::move(v.hotove.front());
                    v.hotove.pop_front();
                    v.obsluhovane.push_back(s.sock);
                }
                Proud proud(s);
                bool zavreno = false;
                zavrit = false;
                const bool ok = process_request(proud, false, zavreno, nullptr);
                {
                    std::lock_guard<std::mutex> zamek(v.m);
                    v.obsluhovane.erase(std::find(v.obsluhovane.begin(), v.obsluhovane.end(), s.sock));
                }
                if (!ok || zavreno || zavrit) {
                    ::shutdown(s.sock, SHUT_RDWR);
                    ::close(s.sock);
                    continue;
                }
                // Back to wait for its next request.
                s.od = ted();
                s.lhuta = s.od + (s.prijato.empty() ? necinnost : nejdelepozadavek);
                std::lock_guard<std::mutex> zamek(v.m);
                if (s.hlavicka()) {
                    v.hotove.push_back(std::move(s));
                    v.prace.notify_one();
                } else {
                    v.prichozi.push_back(std::move(s));
                    v.probud();
                }
            }
        });
    }
}

Prijem::~Prijem() { skonci(); }

void Prijem::skonci() {
    {
        std::lock_guard<std::mutex> zamek(v_->m);
        if (v_->konec && !v_->cekarna.joinable()) return;
        v_->konec = true;
        v_->prace.notify_all();
        v_->probud();
        // A request still arriving, or an answer still going out, ends now.
        for (const int sock : v_->obsluhovane) ::shutdown(sock, SHUT_RDWR);
    }
    if (v_->cekarna.joinable()) v_->cekarna.join();
    for (std::thread& t : v_->delnici) {
        if (t.joinable()) t.join();
    }
    std::lock_guard<std::mutex> zamek(v_->m);
    for (Spojeni& s : v_->prichozi) ::close(s.sock);
    for (Spojeni& s : v_->hotove) ::close(s.sock);
    v_->prichozi.clear();
    v_->hotove.clear();
}

void Prijem::zavripoodpovedi() { zavrit = true; }

bool Prijem::process_and_close_socket(socket_t sock) {
    Spojeni s;
    s.sock = sock;
    // An answer goes out as it is written: its head and body are separate
    // writes, and the body would otherwise wait for the page to acknowledge
    // the head, which it may hold back for tens of milliseconds.
    const int ano = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &ano, sizeof ano);
    int port = 0;
    sockaddr_storage a {};
    socklen_t delka = sizeof a;
    if (::getpeername(sock, reinterpret_cast<sockaddr*>(&a), &delka) == 0) s.klient = adresa(a, port);
    s.od = ted();
    s.lhuta = s.od + nejdelepozadavek;
    std::lock_guard<std::mutex> zamek(v_->m);
    if (v_->konec) {
        ::close(sock);
        return false;
    }
    v_->prichozi.push_back(std::move(s));
    v_->probud();
    return true;
}

}  // namespace skladba
