// Shared set-up for the tests of the kernel's serial ports: a scratch directory holding a fake
// sysfs tree and device directory, with simulated supplies served over pseudo-terminals.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/ftdi_link.h"
#include "link/serial_ports.h"
#include "sim/fake_sysfs.h"
#include "sim/pty_supply.h"

namespace pz4::testing_support {

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pz4-kernel-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct KernelBench {
    ScratchDir scratch;
    sim::FakeSysfs tree{scratch.path()};
    std::vector<std::unique_ptr<sim::PtySupply>> supplies;

    PortRoots roots() const { return {tree.sysfsRoot(), tree.devRoot()}; }
    std::unique_ptr<FtdiLink> makeLink(platform::Clock& clock = platform::systemClock()) {
        return std::make_unique<FtdiLink>(serialPortEntries(roots()), clock);
    }

    // A served supply at the node, as a bridge with description "High Voltage PZ4".
    sim::PtySupply& plugSupply(const std::string& node, const std::string& serial) {
        supplies.push_back(std::make_unique<sim::PtySupply>(serial));
        tree.plug({node, "High Voltage PZ4", serial}, supplies.back()->slavePath());
        return *supplies.back();
    }
};

}  // namespace pz4::testing_support
