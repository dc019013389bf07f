#include "protocol/device_session.h"

namespace pz4 {

std::atomic<DeviceSession*> ActiveSession{nullptr};

std::unique_ptr<DeviceSession> DeviceSession::create(std::unique_ptr<FtdiLink> link,
                                                     const MessageFn& showMessage) {
    std::unique_ptr<DeviceSession> session(new DeviceSession(std::move(link)));
    if (!session->link->driverLoaded()) {
        if (showMessage) {
            showMessage(kDriverMissingMessage);
        }
    } else {
        session->link->listDevices();
    }
    return session;
}

DeviceSession::~DeviceSession() {
    if (link) {
        waitBusFree();
        link.reset();
    }
}

void DeviceSession::waitBusFree() {
    while (busy.load() != 0) {
        clock().sleepMs(0);
    }
}

void DeviceSession::ForgetPreviousStatus() {
    // No NUL at all: the next reply differs from this as a whole and in every position.
    previousStatus.fill(static_cast<char>(0xFF));
    statusDigitMissing = false;
}

std::unique_ptr<DeviceSession> createActiveSession(std::unique_ptr<FtdiLink> link,
                                                   const MessageFn& showMessage) {
    auto session = DeviceSession::create(std::move(link), showMessage);
    ActiveSession.store(session.get());
    return session;
}

void destroyActiveSession(std::unique_ptr<DeviceSession>& session) {
    ActiveSession.store(nullptr);
    session.reset();
}

}  // namespace pz4
