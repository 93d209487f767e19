// The commands an editor can bind: render the score, play it from a place,
// open it in skladba serve. Each runs this same program as a child with
// the score's file; what it says comes back as a message for the editor.
// The children still running when the server ends are interrupted.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace skladba::lsp {

class Procesy {
public:
    // typ: the protocol's message type (1 error, 3 information).
    using Ohlas = std::function<void(int typ, const std::string& text)>;

    ~Procesy() { ukonci(); }
    void vykresli(const std::string& cesta, const std::string& rejstriky, Ohlas ohlas);
    // A new play stops the one before.
    void hraj(const std::string& cesta, double od, const std::string& rejstriky, Ohlas ohlas);
    // One page server at a time: asked again, its address is said again.
    void otevri(const std::string& cesta, const std::string& rejstriky, Ohlas ohlas);
    void ukonci();

private:
    struct Dite {
        pid_t pid = -1;
        bool bezi = false;
    };
    // Starts the program with args; its standard output and error into
    // the pipe *vystup (or nowhere when null). Null on failure.
    std::shared_ptr<Dite> spust(const std::vector<std::string>& argumenty, int* vystup);
    void cekej(std::shared_ptr<Dite> d, int fd, std::function<void(int status, const std::string& text)> potom,
               std::function<void(const std::string& radek)> radek = nullptr);

    std::mutex zamek_;
    std::vector<std::thread> vlakna_;
    std::vector<std::shared_ptr<Dite>> deti_;
    std::shared_ptr<Dite> hrani_, server_;
    std::string adresa_;
};

}  // namespace skladba::lsp
