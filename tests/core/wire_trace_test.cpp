// The wire trace: a few passes of the worker write a trace in which every command is followed by
// exactly its own reply, escaped so that each driver call stays one line.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

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

// A FIFO or a directory is refused at once, with a reason; a regular file is moved aside once
// it is full and started afresh, keeping one older generation only.
TEST(WireTraceTest, TracesToARegularFileOnlyAndRotatesItOnce) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("pz4-trace-dir-" + std::to_string(testing_support::processId()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::vector<std::pair<std::string, std::string>> refused = {
        {dir.string(), ""}, {(dir / "missing" / "trace.txt").string(), ""}};
#if !defined(_WIN32)
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    refused.push_back({fifo.string(), "not a regular file"});
#endif
    for (const auto& [path, reason] : refused) {
        std::string whyNot;
        EXPECT_EQ(WireTrace::open(path.c_str(), &whyNot), nullptr) << path;
        EXPECT_FALSE(whyNot.empty()) << path;
        if (!reason.empty()) {
            EXPECT_EQ(whyNot, reason);
        }
    }

    const auto path = dir / "trace.txt";
    const auto old = dir / "trace.txt.1";
    {
        auto trace = WireTrace::open(path.string().c_str(), nullptr, 300);
        ASSERT_NE(trace, nullptr);
        for (int i = 0; i < 30; ++i) {
            trace->record(static_cast<std::uint64_t>(i), "write", "\"PZ442GU\\x00\"");
        }
    }
    const auto lines = [](const std::filesystem::path& p) {
        std::ifstream in(p);
        std::vector<std::string> all;
        for (std::string line; std::getline(in, line);) {
            all.push_back(line);
        }
        return all;
    };
    const auto current = lines(path);
    const auto previous = lines(old);
    EXPECT_LE(std::filesystem::file_size(path), 300u + 40u);
    EXPECT_LE(std::filesystem::file_size(old), 300u + 40u);
    ASSERT_FALSE(current.empty());
    ASSERT_FALSE(previous.empty());
    EXPECT_TRUE(current.front().starts_with("# PZ4 Control wire trace"));
    EXPECT_EQ(current.back(), "29 write \"PZ442GU\\x00\"");
    // The older generation holds the lines just before the newer one starts.
    const int firstNew = std::stoi(current[1]);
    EXPECT_EQ(previous.back(), std::to_string(firstNew - 1) + " write \"PZ442GU\\x00\"");
    EXPECT_FALSE(std::filesystem::exists(dir / "trace.txt.2"));
    std::filesystem::remove_all(dir);
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
