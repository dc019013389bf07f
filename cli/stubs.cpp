#include "cli/commands.h"
namespace pz4::cli {
int runWatch(const std::string&, WatchFormat, unsigned, SignalStop&) {
    return 1;
}
int runServe(const ServeOptions&, SignalStop&) {
    return 1;
}
}  // namespace pz4::cli
