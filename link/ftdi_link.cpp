#include "link/ftdi_link.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

namespace pz4 {
namespace {

// Node fields are fixed-size and need not be NUL-terminated inside their span.
std::string_view fieldText(const char* field, std::size_t size) {
    return {field, strnlen(field, size)};
}

constexpr DWORD kMaxReportedNodes = 4096;

bool isSupply(const FT_DEVICE_LIST_INFO_NODE& node) {
    return fieldText(node.Description, sizeof node.Description) == kSupplyDescription;
}

// A driver keeps one device list for the whole process, and an open names a device by its
// place in that list: links on other threads (one per supply served) must not list between
// another link's listing and its open.
std::mutex& driverListMutex() {
    static std::mutex mutex;
    return mutex;
}

template <typename Fn>
void resolve(platform::ModuleHandle module, Fn& slot, const char* name) {
    slot = reinterpret_cast<Fn>(platform::findSymbol(module, name));
}

}  // namespace

FtdiLink::FtdiLink(platform::Clock& clock) : FtdiLink(kDriverLibraryName, clock) {}

FtdiLink::FtdiLink(const char* libraryName, platform::Clock& clock)
    : nodes_(kMaxSupplies), clock_(clock), trace_(WireTrace::fromEnvironment()) {
    driverModule_ = platform::loadLibrary(libraryName);
    if (driverModule_ == nullptr) {
        return;
    }
    driverLoaded_ = true;
    resolveEntries();
}

FtdiLink::FtdiLink(const D2xxEntries& entries, platform::Clock& clock)
    : driverLoaded_(true),
      nodes_(kMaxSupplies),
      entries_(entries),
      clock_(clock),
      trace_(WireTrace::fromEnvironment()) {}

FtdiLink::~FtdiLink() {
    closeDevice();
    if (driverModule_ != nullptr) {
        platform::unloadLibrary(driverModule_);
        driverModule_ = nullptr;
    }
}

void FtdiLink::resolveEntries() {
    const auto& n = kD2xxEntryNames;
    resolve(driverModule_, entries_.FT_Open, n[0]);
    resolve(driverModule_, entries_.FT_Close, n[1]);
    resolve(driverModule_, entries_.FT_Read, n[2]);
    resolve(driverModule_, entries_.FT_Write, n[3]);
    resolve(driverModule_, entries_.FT_SetBaudRate, n[4]);
    resolve(driverModule_, entries_.FT_SetDataCharacteristics, n[5]);
    resolve(driverModule_, entries_.FT_GetQueueStatus, n[6]);
    resolve(driverModule_, entries_.FT_GetDeviceInfoList, n[7]);
    resolve(driverModule_, entries_.FT_CreateDeviceInfoList, n[8]);
}

bool FtdiLink::refreshNodes(DWORD& count) {
    if (entries_.FT_CreateDeviceInfoList == nullptr || entries_.FT_GetDeviceInfoList == nullptr) {
        return false;
    }
    count = 0;
    if (entries_.FT_CreateDeviceInfoList(&count) != FT_OK) {
        return false;
    }
    // The driver writes one node per device it counted; give it room for all of them. A count
    // no bus could hold is a broken driver, not a reason to run out of memory.
    if (count > kMaxReportedNodes) {
        return false;
    }
    if (count > nodes_.size()) {
        nodes_.resize(count);
    }
    entries_.FT_GetDeviceInfoList(nodes_.data(), &count);
    return true;
}

std::int32_t FtdiLink::listDevices() {
    if (closing) {
        return 0;
    }
    for (auto& entry : serials_) {
        entry[0] = '\0';
    }
    supplyNodes_.clear();
    DWORD count = 0;
    std::lock_guard lock(driverListMutex());
    if (!refreshNodes(count)) {
        return 0;
    }
    const DWORD examined = std::min<DWORD>(count, kMaxSupplies);
    std::int32_t listed = 0;
    for (DWORD i = 0; i < examined; ++i) {
        if (closing) {
            return 0;
        }
        const auto& node = nodes_[i];
        if (!isSupply(node)) {
            continue;
        }
        const auto serial = fieldText(node.SerialNumber, sizeof node.SerialNumber);
        supplyNodes_.push_back(i);
        auto& entry = serials_[static_cast<std::size_t>(listed)];
        std::memcpy(entry.data(), serial.data(), serial.size());
        entry[serial.size()] = '\0';
        ++listed;
    }
    if (trace_) {
        std::string detail = "nodes " + std::to_string(count) + ", supplies";
        for (std::int32_t i = 0; i < listed; ++i) {
            detail += ' ' + escapedBytes(serials_[static_cast<std::size_t>(i)].data());
        }
        trace("list", detail);
    }
    return listed;
}

bool FtdiLink::openBySerial(const char* serial) {
    if (closing || serial == nullptr) {
        return false;
    }
    closeDevice();
    handle_ = nullptr;
    lastOpenStatus_ = FT_DEVICE_NOT_FOUND;

    DWORD count = 0;
    std::lock_guard lock(driverListMutex());
    if (!refreshNodes(count)) {
        return false;
    }
    deviceIndex_ = -1;
    const std::string_view wanted(serial);
    const DWORD examined = std::min<DWORD>(count, kMaxSupplies);
    for (DWORD j = 0; j < examined; ++j) {
        if (closing) {
            return false;
        }
        const auto& node = nodes_[j];
        if (isSupply(node) &&
            (wanted.empty() || fieldText(node.SerialNumber, sizeof node.SerialNumber) == wanted)) {
            deviceIndex_ = static_cast<std::int32_t>(j);
            break;
        }
    }
    if (closing || entries_.FT_Open == nullptr || deviceIndex_ < 0) {
        return false;
    }
    const auto& chosen = nodes_[static_cast<std::size_t>(deviceIndex_)];
    const std::string_view chosenSerial =
        fieldText(chosen.SerialNumber, sizeof chosen.SerialNumber);
    lastOpenStatus_ = entries_.FT_Open(deviceIndex_, &handle_);
    if (lastOpenStatus_ != FT_OK || handle_ == nullptr) {
        lastOpenStatus_ = lastOpenStatus_ == FT_OK ? FT_OTHER_ERROR : lastOpenStatus_;
        handle_ = nullptr;
        if (trace_) {
            trace("open", escapedBytes(chosenSerial) + " failed");
        }
        return false;
    }
    std::memcpy(openSerial_.data(), chosenSerial.data(), chosenSerial.size());
    openSerial_[chosenSerial.size()] = '\0';
    // A new handle: nothing of an earlier exchange can still arrive on it.
    lineUnsettled_ = false;
    lateReplyUntilMs_ = 0;
    pendingLf_ = false;
    confirmNextLine_ = false;
    if (trace_) {
        trace("open", escapedBytes(chosenSerial) + " node " + std::to_string(deviceIndex_));
    }
    if (entries_.FT_SetBaudRate != nullptr) {
        entries_.FT_SetBaudRate(handle_, kBaudRate);
    }
    if (entries_.FT_SetDataCharacteristics != nullptr) {
        entries_.FT_SetDataCharacteristics(handle_, 8, 0, 0);
    }
    return true;
}

std::vector<FtdiLink::ListedSupply> FtdiLink::listedSupplies() const {
    std::vector<ListedSupply> out;
    for (const std::size_t i : supplyNodes_) {
        const auto& node = nodes_[i];
        out.push_back({std::string(fieldText(node.SerialNumber, sizeof node.SerialNumber)),
                       std::string(fieldText(node.Description, sizeof node.Description)),
                       node.LocId});
    }
    return out;
}

void FtdiLink::closeDevice() {
    if (handle_ == nullptr || entries_.FT_Close == nullptr) {
        return;
    }
    openSerial_[0] = '\0';
    FT_HANDLE taken = handle_;
    handle_ = nullptr;
    entries_.FT_Close(taken);
    trace("close", "");
}

bool FtdiLink::pause(std::uint32_t ms) {
    return !stopping() && !clock_.waitMs(ms, *stop_) && !closing.load();
}

void FtdiLink::trace(std::string_view event, std::string_view detail) {
    if (trace_) {
        trace_->record(clock_.tickMs(), event, detail);
    }
}

}  // namespace pz4
