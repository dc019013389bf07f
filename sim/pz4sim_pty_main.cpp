// The simulated supplies of PZ4SIM_SUPPLIES (and the other devices of PZ4SIM_OTHER) as the
// kernel's FTDI ports: a sysfs tree and a device directory in DIR whose ttyUSB nodes lead to
// served pseudo-terminals. Writes DIR/env (the variables that point the program there) once
// everything is ready, and serves until interrupted or terminated.
//
//   pz4sim-pty DIR
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/ftdi_link.h"
#include "platform/clock.h"
#include "sim/fake_sysfs.h"
#include "sim/pty_supply.h"
#include "sim/sim_environment.h"

namespace {

using namespace pz4::sim;
namespace fs = std::filesystem;

// Serving threads log concurrently; one line each, whole.
class CommandLog {
  public:
    explicit CommandLog(const std::string& path)
        : file_(path.empty() ? nullptr : std::fopen(path.c_str(), "a")) {}
    ~CommandLog() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;

    void add(std::string_view serial, std::string_view command) {
        if (file_ == nullptr) {
            return;
        }
        const std::string line =
            commandLogLine(pz4::platform::systemClock().tickMs(), serial, command);
        std::lock_guard lock(mutex_);
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
    }

  private:
    std::mutex mutex_;
    std::FILE* file_;
};

// A bridge that is no supply: its node exists, and nothing ever answers.
struct IdlePort {
    int master = -1;
    ~IdlePort() {
        if (master >= 0) {
            ::close(master);
        }
    }
};

std::string nodeName(std::size_t index) {
    return "ttyUSB" + std::to_string(index);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pz4sim-pty DIR\n");
        return 2;
    }
    const fs::path dir = fs::absolute(argv[1]);
    // Blocked before any thread starts, so that every thread leaves them to sigwait below.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const SimPlan plan = planFrom(settingsFromEnvironment());
    CommandLog log(plan.logPath);
    FakeSysfs tree(dir);
    std::vector<std::unique_ptr<PtySupply>> supplies;
    std::vector<std::unique_ptr<IdlePort>> others;
    for (const SupplyPlan& supplyPlan : plan.supplies) {
        auto supply = std::make_unique<PtySupply>(supplyPlan.serial);
        supply->withSupply([&](SimSupply& s) {
            setUpSupply(s, supplyPlan, plan.noise, pz4::platform::systemClock().tickMs());
        });
        supply->setCommandObserver([&log, serial = supplyPlan.serial](std::string_view command) {
            log.add(serial, command);
        });
        tree.plug({nodeName(supplies.size() + others.size()), std::string(pz4::kSupplyDescription),
                   supplyPlan.serial},
                  supply->slavePath());
        supplies.push_back(std::move(supply));
    }
    for (const OtherDevicePlan& other : plan.otherDevices) {
        auto port = std::make_unique<IdlePort>();
        std::string slave;
        port->master = openRawPty(slave);
        if (port->master < 0) {
            continue;
        }
        tree.plug({nodeName(supplies.size() + others.size()), other.description, other.serial},
                  slave);
        others.push_back(std::move(port));
    }

    const std::string env = "export PZ4_SYSFS_ROOT='" + tree.sysfsRoot() +
                            "'\nexport PZ4_DEV_ROOT='" + tree.devRoot() + "'\n";
    // Renamed into place, so that whoever waits for the file reads it whole.
    { std::ofstream(dir / "env.part") << env; }
    fs::rename(dir / "env.part", dir / "env");
    std::fputs(env.c_str(), stdout);
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    supplies.clear();
    others.clear();
    std::error_code ec;
    fs::remove(dir / "env", ec);
    fs::remove_all(tree.sysfsRoot(), ec);
    fs::remove_all(tree.devRoot(), ec);
    return 0;
}
