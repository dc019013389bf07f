// pz4ctl's commands; each returns the process's exit code (cli/exit_codes.h).
#pragma once

#include <string>
#include <vector>

#include "cli/signal_stop.h"

namespace pz4::cli {

int runList(bool json);
int runGet(const std::string& serial, bool json, SignalStop& signals);
// channel 1..3; volts as typed, judged here.
int runSet(const std::string& serial, int channel, const std::string& volts, double waitSeconds,
           SignalStop& signals);

enum class WatchFormat { Text, Csv, Json };
int runWatch(const std::string& serial, WatchFormat format, unsigned intervalMs,
             SignalStop& signals);

struct ServeOptions {
    std::string url;                   // mqtt://host[:port] or mqtts://host[:port]
    std::vector<std::string> serials;  // empty: every supply attached, now or later
    bool allowSet = false;
    std::string prefix = "pz4";
    std::string clientId;  // empty: pz4ctl-<host>-<pid>
    std::string caFile;    // for mqtts://; empty: the system's certificates
};
int runServe(const ServeOptions& options, SignalStop& signals);

}  // namespace pz4::cli
