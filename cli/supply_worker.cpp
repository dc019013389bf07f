#include "cli/supply_worker.h"

namespace pz4::cli {

SupplyWorker::SupplyWorker(std::unique_ptr<FtdiLink> link, const std::string& serial,
                           WorkerShared& shared, WorkerEventSink& events, platform::Clock& clock)
    : shared_(shared), session_(DeviceSession::create(std::move(link), nullptr)) {
    shared_.fill(NO_VALUE);
    session_->serial.store(serial);
    worker_ = std::make_unique<PollWorker>(*session_, view_, clock, shared_);
    worker_->setEventSink(&events);
    worker_->start();
}

SupplyWorker::~SupplyWorker() {
    worker_->exit();
}

char SupplyWorker::state(int channel) const {
    return session_->status.at(kStatePosition + static_cast<std::size_t>(channel));
}

char SupplyWorker::mode(int channel) const {
    return session_->status.at(kModePosition + static_cast<std::size_t>(channel));
}

}  // namespace pz4::cli

namespace pz4::cli {

std::string SupplyWorker::whyNoSetValue(int channel) const {
    switch (state(channel)) {
        case '1':
            return std::string("is in mode ") + mode(channel);
        case '0':
            return "is off";
        case '2':
            return "is in error";
        default:
            return "has no known state";
    }
}

}  // namespace pz4::cli
