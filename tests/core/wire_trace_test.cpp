// The wire trace: a few passes of the worker write a trace in which every command is followed by
// exactly its own reply, escaped so that each driver call stays one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/wire_trace.h"
#include "protocol/device_session.h"
#include "tests/core/recording_view.h"
#include "tests/core/sim_bench.h"
#include "tests/support/os.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4 {
namespace {

// The bytes of a quoted trace text.
std::string unescaped(std::string_view quoted) {
    std::string out;
    for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            out += quoted[i];
            continue;
        }
        const char c = quoted[++i];
        if (c == 'x') {
            out += static_cast<char>(std::stoi(std::string(quoted.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        }
    }
    return out;
}

TEST(WireTraceTest, EscapesEveryByteThatIsNoPlainCharacter) {
    const std::pair<std::string, const char*> cases[] = {
        {"PZ442GU", "\"PZ442GU\""},
        {std::string("PZ442GU\0", 8), "\"PZ442GU\\x00\""},
        {"42,ok\r\n", "\"42,ok\\r\\n\""},
        {"a\\b\"c\td", "\"a\\\\b\\\"c\\td\""},
        {"\x7f\x80\xff", "\"\\x7f\\x80\\xff\""},
    };
    for (const auto& [bytes, escaped] : cases) {
        EXPECT_EQ(escapedBytes(bytes), escaped);
        EXPECT_EQ(unescaped(escaped), bytes);
    }
}

TEST(WireTraceTest, CommandsAndRepliesAlternateInStep) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("pz4-trace-" + std::to_string(testing_support::processId()) + ".log");
    std::filesystem::remove(path);
    {
        fillChannelTables(NO_VALUE);
        testing_support::SimBench bench;
        sim::SimSupply& s = bench.driver.addSupply("42");
        s.rampVoltsPerSecond = 0;
        s.setChannel(0, '1', 'U');
        s.setSetVoltage(0, 500, 0);
        // A CR and its LF apart, and noise behind the replies: the trace shows them as they came.
        bench.driver.faults("42").lfLagMs = 20;
        auto link = bench.makeLink();
        link->setTrace(WireTrace::open(path.string().c_str()));
        auto session = DeviceSession::create(std::move(link), nullptr);
        session->serial.store("42");
        test::RecordingView view;
        PollWorker worker(*session, view, bench.clock);
        worker.start();
        for (int pass = 0; pass < 20; ++pass) {
            if (pass == 5) {
                SetRequest[0].store(500);
            }
            ASSERT_TRUE(worker.runPass());
        }
        worker.exit();
    }

    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_TRUE(line.starts_with("# PZ4 Control wire trace, started "));
    std::vector<std::pair<std::string, std::string>> exchanges;  // command, reply
    std::vector<std::string> events;
    while (std::getline(in, line)) {
        const std::size_t at = line.find(' ');
        const std::size_t detail = line.find(' ', at + 1);
        const std::string event = line.substr(at + 1, detail - at - 1);
        events.push_back(event);
        const std::string rest = line.substr(detail + 1);
        if (event == "write") {
            ASSERT_EQ(rest.back(), '"') << line;
            exchanges.push_back({unescaped(rest), ""});
        } else if (event == "read" || event == "drain") {
            ASSERT_FALSE(exchanges.empty()) << "bytes before any command: " << line;
            std::string bytes = unescaped(rest);
            // The lagging LF of the previous reply comes after the next command went out.
            auto& current = exchanges.back().second;
            if (current.empty() && exchanges.size() > 1 && bytes.starts_with('\n') &&
                exchanges[exchanges.size() - 2].second.ends_with('\r')) {
                exchanges[exchanges.size() - 2].second += '\n';
                bytes.erase(0, 1);
            }
            current += bytes;
        }
    }
    in.close();
    std::filesystem::remove(path);

    // The worker closed the line before the last LF came.
    ASSERT_TRUE(exchanges.back().second.ends_with('\r'));
    exchanges.back().second += '\n';
    ASSERT_GE(exchanges.size(), 40u);
    const std::vector<std::string> start(events.begin(), events.begin() + 4);
    EXPECT_EQ(start, (std::vector<std::string>{"list", "list", "open", "write"}));
    EXPECT_EQ(events.back(), "close");
    int sets = 0;
    for (const auto& [command, reply] : exchanges) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(command.ends_with('\0'));
        EXPECT_TRUE(reply.ends_with("\r\n"));
        EXPECT_EQ(reply.find("\r\n"), reply.size() - 2) << "one reply per command";
        const std::string text = reply.substr(0, reply.size() - 2);
        const std::string cmd = command.substr(0, command.size() - 1);
        if (cmd == "PZ442GU") {
            EXPECT_EQ(text, "42,500,0,0");
        } else if (cmd == "PZ442GI") {
            EXPECT_EQ(text, "42,51,2,3");
        } else if (cmd == "PZ442GSS") {
            EXPECT_TRUE(text.starts_with("1 S:100"));
        } else {
            EXPECT_EQ(cmd, "PZ442S 0,500");
            EXPECT_EQ(text, "42,ok");
            ++sets;
        }
    }
    EXPECT_EQ(sets, 1);
}

}  // namespace
}  // namespace pz4
