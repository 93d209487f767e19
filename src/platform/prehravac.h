// Playing 16-bit mono samples through the sound server (libpulse-simple,
// which PulseAudio and PipeWire desktops both serve), with a short buffer
// so that the position shown and seeking stay close to what is heard.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace skladba::platform {

// The buffer asked of the server: what is written plays this much later at most.
constexpr int zpozdenims = 50;

class Prehravac {
public:
    Prehravac() = default;
    ~Prehravac();
    Prehravac(const Prehravac&) = delete;
    Prehravac& operator=(const Prehravac&) = delete;

    // Connects to the sound server for a stream at rate frames a second of
    // kanalu channels, named nazev in its lists; false with the server's reason.
    bool otevri(int rate, const std::string& nazev, std::string& chyba, int kanalu = 1);
    // pocet frames (kanalu samples each, interleaved). Blocks until the
    // server takes them all; false with the reason.
    bool pis(const int16_t* vzorky, size_t pocet, std::string& chyba);
    // How long what was written takes to be heard, microseconds (-1: unknown).
    int64_t zpozdeni();
    // Drops what the server holds and has not played.
    void zahod();
    // Waits until everything written has played.
    void dohraj();
    // A server that stops answering (stopped, not gone: its socket stays
    // open) would hold a call above forever. Once one has waited limit,
    // zaseknuti is called from a thread of its own; it must end the
    // process, for the call never returns.
    void hlidej(std::chrono::milliseconds limit, std::function<void()> zaseknuti);

private:
    // Marks a call to the server for the watch while it lasts.
    class Volani {
    public:
        explicit Volani(Prehravac& p);
        ~Volani();

    private:
        Prehravac& p_;
    };

    void* spojeni_ = nullptr;   // the pa_simple of the stream
    int kanalu_ = 1;
    std::atomic<int64_t> odkdy_{-1};   // when the call in progress began, ms; -1: none
    std::mutex m_;
    std::condition_variable stop_;
    bool konec_ = false;
    std::thread hlidac_;
};

}  // namespace skladba::platform
