// pz4ctl's exit codes: one per kind of outcome, so that a script can tell them apart.
#pragma once

namespace pz4::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitError = 1,         // no driver, a failure of the system, a broker that refuses us
    kExitUsage = 2,         // bad options or arguments; several supplies and no -s
    kExitNoSupply = 3,      // no supply attached, or none with that serial
    kExitRefused = 4,       // the channel takes no set value now, or the value is out of range
    kExitFailed = 5,        // no acknowledgement, no reading, or the voltage did not get there
    kExitInUse = 6,         // another program holds the supply
    kExitInterrupted = 130  // a second Ctrl-C while a driver call would not return
};

}  // namespace pz4::cli
