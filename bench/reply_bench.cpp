// How much a reply costs us: parsing a numeric reply, and a whole exchange over the simulated
// driver in virtual time (so the measure is our code, not the wire's pauses).
#include <benchmark/benchmark.h>

#include "protocol/commands.h"
#include "protocol/device_session.h"
#include "protocol/numeric_reply.h"
#include "sim/sim_driver.h"
#include "sim/virtual_clock.h"

namespace {

void parseReply(benchmark::State& state) {
    pz4::Readings readings;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            pz4::parseNumericReply("1234567,1200, -5 ,+30", "1234567", readings));
    }
}
BENCHMARK(parseReply);

void voltageQuery(benchmark::State& state) {
    pz4::sim::VirtualClock clock;
    pz4::sim::SimDriver driver(clock);
    driver.addSupply("42").setChannel(0, '1', 'U');
    auto session = pz4::DeviceSession::create(
        std::make_unique<pz4::FtdiLink>(driver.entries(), clock), nullptr);
    session->serial.store("42");
    session->link->openBySerial("42");
    pz4::CommandText query;
    pz4::formatVoltageQuery(query, session->serial.load());
    pz4::Readings readings;
    for (auto _ : state) {
        benchmark::DoNotOptimize(session->QueryValues(query.data(), readings));
    }
}
BENCHMARK(voltageQuery);

}  // namespace
