// How the editor's server takes its connections: no slow or idle client can
// hold a worker. A connection waits for its request's head in one thread
// that watches them all; only a complete head goes to a worker, which
// answers it and hands the connection back to wait for the next request.
// A request must arrive whole (head and body) within nejdelepozadavek
// seconds of its first byte being awaited, an idle connection is closed
// after a few seconds, and one client holds at most nejvicnaklienta waiting
// connections: a new one pushes out its oldest.
#pragma once

#include <httplib.h>
#include <memory>

namespace skladba {

constexpr int nejdelepozadavek = 20;
constexpr int nejvicnaklienta = 64;

class Prijem : public httplib::Server {
public:
    explicit Prijem(int vlaken);
    ~Prijem() override;
    // Ends the waiting and the workers; after stop, once the listening loop
    // has returned.
    void skonci();
    // The connection of the request being answered (in its handler) is
    // closed after the answer.
    static void zavripoodpovedi();

private:
    bool process_and_close_socket(socket_t sock) override;

    struct Vnitrek;
    std::unique_ptr<Vnitrek> v_;
};

}  // namespace skladba
