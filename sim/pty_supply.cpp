#include "sim/pty_supply.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>

namespace pz4::sim {
namespace {

constexpr int kPollMs = 10;

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // nobody on the other side; the bytes are lost as on a wire
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

int openRawPty(std::string& slavePath) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return -1;
    }
    std::array<char, 128> name{};
    termios tio{};
    // Raw now, before the program opens its side: settings made through the master later
    // would overwrite the program's own.
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name.data(), name.size()) != 0 || ::tcgetattr(master, &tio) != 0) {
        ::close(master);
        return -1;
    }
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    // A reply nobody reads must not stall the serving thread: a full line drops it.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    slavePath = name.data();
    return master;
}

PtySupply::PtySupply(const std::string& serial, platform::Clock& clock)
    : clock_(clock), supply_(serial) {
    start();
}

PtySupply::~PtySupply() {
    hangUp();
}

void PtySupply::start() {
    master_ = openRawPty(slavePath_);
    if (master_ < 0) {
        return;
    }
    stop_ = false;
    thread_ = std::thread([this, fd = master_] { serve(fd); });
}

void PtySupply::hangUp() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

bool PtySupply::comeBack() {
    hangUp();
    start();
    return master_ >= 0;
}

void PtySupply::setOptions(const Options& options) {
    std::lock_guard lock(mutex_);
    options_ = options;
}

void PtySupply::inject(std::string_view bytes) {
    if (master_ >= 0) {
        writeAll(master_, bytes);
    }
}

termios PtySupply::lineSettings() const {
    termios tio{};
    // The master reads and writes the slave's settings: the two share one line.
    ::tcgetattr(master_, &tio);
    return tio;
}

void PtySupply::setLineSettings(const termios& settings) {
    ::tcsetattr(master_, TCSANOW, &settings);
}

std::vector<std::string> PtySupply::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

void PtySupply::setCommandObserver(std::function<void(std::string_view)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void PtySupply::serve(int master) {
    std::string pending;
    std::array<char, 256> buffer;
    while (!stop_) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        const ssize_t n =
            (p.revents & POLLIN) != 0 ? ::read(master, buffer.data(), buffer.size()) : -1;
        if (n <= 0) {
            // No program holds the slave side (or it just let go): wait for the next one.
            clock_.sleepMs(kPollMs);
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[static_cast<std::size_t>(i)] != '\0') {
                pending += buffer[static_cast<std::size_t>(i)];
                if (pending.size() > kMaxCommandBytes) {
                    pending.clear();
                }
                continue;
            }
            answer(master, pending);
            pending.clear();
        }
    }
}

void PtySupply::answer(int master, std::string_view command) {
    std::optional<std::string> reply;
    Options options;
    {
        std::lock_guard lock(mutex_);
        commands_.emplace_back(command);
        if (observer_) {
            observer_(command);
        }
        reply = supply_.handleCommand(command, clock_.tickMs());
        options = options_;
    }
    if (!reply) {
        return;
    }
    const std::size_t pieces = static_cast<std::size_t>(std::max(options.pieces, 1));
    const std::size_t size = (reply->size() + pieces - 1) / pieces;
    for (std::size_t at = 0; at < reply->size() && !stop_; at += size) {
        if (at > 0) {
            clock_.sleepMs(options.pieceGapMs);
        }
        writeAll(master, std::string_view(*reply).substr(at, size));
    }
}

}  // namespace pz4::sim
