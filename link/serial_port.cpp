#include "link/serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <utility>

namespace pz4 {
namespace {

// The caller asks for bytes it was told are waiting, so a read rarely waits at all; this
// bounds the rare case instead of blocking the worker without end.
constexpr int kReadWaitMs = 100;
// A command is a few dozen bytes; a line that takes a whole second is blocked.
constexpr int kWriteWaitMs = 1000;

constexpr std::array<std::pair<std::uint32_t, speed_t>, 18> kRates = {{
    {300, B300},
    {600, B600},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1500000, B1500000},
    {2000000, B2000000},
}};

int msLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

SerialPort::SerialPort(const char* path) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        heldElsewhere_ = errno == EBUSY;  // another holder's TIOCEXCL
        return;
    }
    // The lock keeps out another copy of this program (and tools that lock, as pyserial does),
    // root included; TIOCEXCL then keeps out every later open but root's. The lock comes first,
    // and a refusal after TIOCEXCL undoes it: a port this program does not get is left as it
    // was found, for whoever holds it.
    termios tio{};
    if (::isatty(fd) == 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldElsewhere_ = errno == EWOULDBLOCK;
        ::close(fd);
        return;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return;
    }
    const auto refuse = [fd] {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
    };
    if (::tcgetattr(fd, &tio) != 0) {
        refuse();
        return;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // With VMIN 0 a read with nothing waiting returns 0, which is how a hang-up reads; with 1
    // the non-blocking descriptor says EAGAIN instead.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        refuse();
        return;
    }
    // The bridge otherwise holds short replies back for its latency timer (16 ms). Only real
    // serial drivers know the request, so a refusal changes nothing.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    // Whatever arrived before this program held the port belongs to nobody's question.
    ::tcflush(fd, TCIFLUSH);
    fd_ = fd;
}

SerialPort::~SerialPort() {
    if (fd_ >= 0) {
        // The line may outlive this descriptor (a pseudo-terminal does): let others in again.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
}

bool SerialPort::noteGone(int error) {
    if (error == EIO || error == ENXIO || error == ENODEV || error == EBADF) {
        gone_ = true;
    }
    return gone_;
}

bool SerialPort::setBaudRate(std::uint32_t baud) {
    if (gone_) {
        return false;
    }
    speed_t speed = 0;
    for (const auto& [rate, code] : kRates) {
        if (rate == baud) {
            speed = code;
        }
    }
    if (speed == 0) {
        return false;  // a rate the port does not know; the port itself is fine
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        noteGone(errno);
        return false;
    }
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        noteGone(errno);
        return false;
    }
    return true;
}

bool SerialPort::setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                        std::uint8_t parity) {
    if (gone_ || (wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) ||
        parity > 4) {
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        noteGone(errno);
        return false;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    tio.c_cflag |= wordLength == 8 ? CS8 : CS7;
    if (stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    static constexpr std::array<tcflag_t, 5> kParity = {0, PARENB | PARODD, PARENB,
                                                        PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
    tio.c_cflag |= kParity[parity];
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        noteGone(errno);
        return false;
    }
    return true;
}

bool SerialPort::waitFor(short events, int timeoutMs) {
    pollfd p{fd_, events, 0};
    int n = 0;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    // An unplugged bridge or a closed pseudo-terminal master shows as a hang-up.
    if (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        gone_ = true;
        return false;
    }
    return n > 0;
}

bool SerialPort::waiting(std::uint32_t& count) {
    if (gone_) {
        return false;
    }
    // A hung-up port refuses the request with EIO.
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0) {
        noteGone(errno);
        return false;
    }
    count = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    return true;
}

bool SerialPort::read(std::span<char> out, std::size_t& got) {
    got = 0;
    if (gone_) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadWaitMs);
    while (got < out.size()) {
        const ssize_t n = ::read(fd_, out.data() + got, out.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            // A non-blocking tty reports "nothing yet" as EAGAIN; end of file is a hang-up.
            gone_ = true;
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            noteGone(errno);
            return false;
        }
        if (!waitFor(POLLIN, msLeft(deadline))) {
            return !gone_;
        }
    }
    return true;
}

bool SerialPort::write(std::span<const char> data, std::size_t& written) {
    written = 0;
    if (gone_) {
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteWaitMs);
    while (written < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + written, data.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            noteGone(errno);
            return false;
        }
        if (!waitFor(POLLOUT, msLeft(deadline))) {
            return !gone_;
        }
    }
    return true;
}

}  // namespace pz4
