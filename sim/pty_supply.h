// A simulated supply on the far side of a pseudo-terminal, as the kernel presents an FTDI
// bridge: the program opens the slave side as its serial port, and a thread serves the master
// side with the supply's replies.
#pragma once

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "sim/sim_supply.h"

namespace pz4::sim {

// A pseudo-terminal pair in raw mode; the master's descriptor, -1 on failure. slavePath
// receives the slave's path.
int openRawPty(std::string& slavePath);

class PtySupply {
  public:
    struct Options {
        int pieces = 1;                // every reply goes out in this many pieces ...
        std::uint32_t pieceGapMs = 3;  // ... this far apart
    };

    // Starts serving at once.
    explicit PtySupply(const std::string& serial, platform::Clock& clock = platform::systemClock());
    ~PtySupply();

    PtySupply(const PtySupply&) = delete;
    PtySupply& operator=(const PtySupply&) = delete;

    // The slave side, the program's port; a new one after each comeBack().
    const std::string& slavePath() const { return slavePath_; }

    // Closes the master: the program's port hangs up and the slave's path goes away.
    void hangUp();
    // A new pair, served again; false when none could be made.
    bool comeBack();

    void setOptions(const Options& options);
    // Bytes that arrive on the program's side unasked.
    void inject(std::string_view bytes);
    // The line settings as the program left them on its side, and a way to leave them
    // otherwise before it opens.
    termios lineSettings() const;
    void setLineSettings(const termios& settings);

    // Runs fn(SimSupply&) under the lock the serving thread takes.
    template <typename Fn>
    void withSupply(Fn&& fn) {
        std::lock_guard lock(mutex_);
        std::forward<Fn>(fn)(supply_);
    }
    // Commands received so far, without their NUL.
    std::vector<std::string> commands() const;
    // Called on the serving thread for every command received, before it is answered.
    void setCommandObserver(std::function<void(std::string_view command)> observer);

  private:
    void start();
    void serve(int master);
    void answer(int master, std::string_view command);

    platform::Clock& clock_;
    mutable std::mutex mutex_;
    SimSupply supply_;
    Options options_;
    std::vector<std::string> commands_;
    std::function<void(std::string_view)> observer_;
    int master_ = -1;
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace pz4::sim
