// pz4ctl: the PZ4 supplies from a script, and from the lab's MQTT broker. The same driver
// choice, session, exchanges and poll worker as the window, with no window.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/commands.h"
#include "cli/exit_codes.h"

int main(int argc, char** argv) {
    using namespace pz4::cli;
    // Before any other thread: the signals go to its thread only.
    SignalStop signals;

    CLI::App app{"Reads out and sets PZ4 high-voltage supplies; bridges them to an MQTT broker.",
                 "pz4ctl"};
    app.require_subcommand(1);
    app.set_version_flag("--version", PZ4_VERSION);

    bool json = false;
    std::string serial;

    CLI::App* list = app.add_subcommand("list", "The attached supplies: serial, driver, port");
    list->add_flag("--json", json, "As a JSON array");

    CLI::App* get = app.add_subcommand("get", "One fresh reading of a supply's three channels");
    get->add_option("-s,--serial", serial, "The supply (default: the only one attached)");
    get->add_flag("--json", json, "As a JSON object");

    int channel = 0;
    std::string volts;
    double waitSeconds = 0;
    CLI::App* set =
        app.add_subcommand("set", "Sets a channel's voltage, if the channel is on and in mode U");
    set->add_option("-s,--serial", serial, "The supply")->required();
    set->add_option("CHANNEL", channel, "1, 2 or 3")->required()->check(CLI::Range(1, 3));
    set->add_option("VOLTS", volts, "A whole number of volts, magnitude below 11000")->required();
    set->add_option("--wait", waitSeconds,
                    "Also wait up to SECONDS until the channel reads within 1 % of the value")
        ->check(CLI::Range(0.0, 3600.0));

    bool csv = false;
    unsigned intervalMs = 200;
    CLI::App* watch = app.add_subcommand("watch", "Every pass's readings and events, until Ctrl-C");
    watch->add_option("-s,--serial", serial, "The supply (default: the only one attached)");
    CLI::Option* csvFlag = watch->add_flag("--csv", csv, "In the record's CSV format");
    watch->add_flag("--json", json, "One JSON object a line")->excludes(csvFlag);
    watch->add_option("--interval", intervalMs, "The pause between passes in ms (default 200)")
        ->check(CLI::Range(0u, 3600000u));

    ServeOptions serve;
    CLI::App* serveCommand =
        app.add_subcommand("serve", "Bridges supplies to an MQTT broker until interrupted");
    serveCommand->add_option("--mqtt", serve.url, "mqtt://HOST[:PORT] or mqtts://HOST[:PORT]")
        ->required();
    serveCommand->add_option("-s,--serial", serve.serials,
                             "A supply to serve (repeatable; default: all, also those plugged "
                             "in later)");
    serveCommand->add_flag("--allow-set", serve.allowSet,
                           "Take set values from <prefix>/<serial>/ch<N>/voltage/set");
    serveCommand->add_option("--prefix", serve.prefix, "The topics' first level (default pz4)");
    serveCommand->add_option("--client-id", serve.clientId,
                             "The MQTT client id (default pz4ctl-<host>-<pid>)");
    serveCommand->add_option("--ca-file", serve.caFile,
                             "CA certificates for mqtts:// (default: the system's)");
    app.footer(
        "The broker's user and password come from PZ4_MQTT_USER and PZ4_MQTT_PASSWORD.\n"
        "Exit codes: 0 done, 1 error, 2 usage or several supplies, 3 no such supply, 4 refused,\n"
        "5 not acknowledged or no answer, 6 in use by another program. See man pz4ctl.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (list->parsed()) {
        return runList(json);
    }
    if (get->parsed()) {
        return runGet(serial, json, signals);
    }
    if (set->parsed()) {
        return runSet(serial, channel, volts, waitSeconds, signals);
    }
    if (watch->parsed()) {
        const WatchFormat format = csv    ? WatchFormat::Csv
                                   : json ? WatchFormat::Json
                                          : WatchFormat::Text;
        return runWatch(serial, format, intervalMs, signals);
    }
    return runServe(serve, signals);
}
