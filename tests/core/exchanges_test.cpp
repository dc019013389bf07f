// The three exchanges against a simulated supply in virtual time: the bytes on the wire, the
// order of pause, bus flag and write, how replies are judged, and that every way out leaves
// the bus free.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "protocol/commands.h"
#include "protocol/device_session.h"
#include "protocol/numeric_reply.h"
#include "tests/core/sim_bench.h"

namespace pz4 {
namespace {

using sim::WireKind;
using testing_support::SimBench;
using testing_support::wire;

const std::string k14 = "12345678901234";
const std::string k16 = "1234567890123456";

// Each pause of the exchange and whether the bus was held during it.
using Trace = std::vector<std::pair<std::uint32_t, int>>;

enum class Exchange { Set, Query, Status };

const char* name(Exchange x) {
    return x == Exchange::Set ? "set command" : x == Exchange::Query ? "voltage query" : "status";
}

class ExchangesTest : public ::testing::Test {
  protected:
    ExchangesTest() { start(); }

    // A fresh driver with one supply, a session whose serial names it, and the supply open.
    void start(const std::string& serial = "42", void (*edit)(D2xxEntries&) = nullptr) {
        session.reset();
        bench = std::make_unique<SimBench>();
        bench->driver.addSupply(serial);
        session = DeviceSession::create(bench->makeLink(edit), nullptr);
        session->serial.store(serial);
        ASSERT_TRUE(session->link->openBySerial(serial.c_str()));
        bench->driver.clearWireLog();
        bench->clock.pauses.clear();
        trace.clear();
        bench->clock.onSleep = [this](std::uint32_t ms) {
            trace.emplace_back(ms, session->busy.load());
            // Stands for another holder of the bus that lets go after a few yields.
            if (ms == 0 && foreignYields > 0 && --foreignYields == 0) {
                session->busy.store(0);
            }
        };
    }

    // The supply's next reply; an empty one keeps the supply silent.
    void answerNextWith(const std::string& reply) {
        if (reply.empty()) {
            bench->driver.faults("42").silent = true;
        } else {
            bench->driver.queueReply("42", reply);
        }
    }

    // Runs one exchange the way the worker does; 1 or the count on success, 0 on failure.
    std::int32_t run(Exchange x) {
        trace.clear();
        switch (x) {
            case Exchange::Set:
                return session->SendSetCommand(1, 800) == SetOutcome::Acknowledged ? 1 : 0;
            case Exchange::Query: {
                CommandText query;
                EXPECT_TRUE(formatVoltageQuery(query, session->addressed()));
                return session->QueryValues(query.data(), readings);
            }
            case Exchange::Status: {
                // The caller holds the bus around the status query and releases it itself.
                session->busy.store(1);
                const std::int32_t n = session->QueryStatus(statusReply);
                EXPECT_EQ(session->busy.load(), 1);
                session->busy.store(0);
                return n;
            }
        }
        return -1;
    }

    std::unique_ptr<SimBench> bench;
    std::unique_ptr<DeviceSession> session;
    Trace trace;
    int foreignYields = 0;
    Readings readings;
    StatusReply statusReply{};
};

// Query and acknowledgement texts for the longest serial a bridge holds and the longest a
// session keeps; the set command is checked on the wire below.
TEST(CommandTextTest, FitsItsBuffer) {
    struct Case {
        bool (*format)(CommandText&, const SerialText&);
        std::string serial;
        std::string expected;
    };
    const std::string k24 = k16 + "78901234";
    const Case cases[] = {
        {formatVoltageQuery, k14 + "5", "PZ4" + k14 + "5GU"},
        {formatCurrentQuery, k14 + "5", "PZ4" + k14 + "5GI"},
        {formatAcknowledgement, k14 + "5", k14 + "5,ok"},
        {formatVoltageQuery, k24, "PZ4" + k24 + "GU"},
        {formatAcknowledgement, k24, k24 + ",ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        CommandText out;
        out.fill('x');
        EXPECT_TRUE(c.format(out, SerialText::from(c.serial)));
        EXPECT_EQ(out.data(), c.expected);
    }
}

// The set command pauses 60 ms with the bus held; the query pauses 20 ms before taking it.
// Both wait for a bus that someone else holds, and write the text with its NUL. After the
// write only the reader pauses, with the bus held, however the bridge hands the reply over.
TEST_F(ExchangesTest, PausesBusFlagAndWriteComeInOrder) {
    struct Case {
        Exchange exchange;
        int heldForYields;
        Trace expected;  // up to the yield after the write
        const char* bytes;
    };
    const Case cases[] = {
        {Exchange::Set, 0, {{60, 1}, {0, 1}}, "PZ442S 1,800"},
        {Exchange::Set, 3, {{0, 1}, {0, 1}, {0, 1}, {60, 1}, {0, 1}}, "PZ442S 1,800"},
        {Exchange::Query, 0, {{20, 0}, {0, 1}}, "PZ442GU"},
        {Exchange::Query, 3, {{0, 1}, {0, 1}, {0, 1}, {20, 0}, {0, 1}}, "PZ442GU"},
        {Exchange::Status, 0, {{0, 1}}, "PZ442GSS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(name(c.exchange)) + ", held " + std::to_string(c.heldForYields));
        start();
        foreignYields = c.heldForYields;
        session->busy.store(c.heldForYields > 0 ? 1 : 0);
        int writtenAt = -1;
        bench->driver.setCommandObserver([&](std::uint64_t, std::string_view, std::string_view) {
            writtenAt = static_cast<int>(trace.size());
            EXPECT_EQ(session->busy.load(), 1);
        });
        EXPECT_GT(run(c.exchange), 0);
        ASSERT_GT(trace.size(), c.expected.size());
        EXPECT_EQ(
            Trace(trace.begin(), trace.begin() + static_cast<std::ptrdiff_t>(c.expected.size())),
            c.expected);
        for (std::size_t i = c.expected.size(); i < trace.size(); ++i) {
            EXPECT_TRUE(trace[i] == std::make_pair(5u, 1) || trace[i] == std::make_pair(1u, 1))
                << "pause " << i << " is no reader poll";
        }
        EXPECT_EQ(writtenAt, static_cast<int>(c.expected.size()) - 1);  // before the yield
        EXPECT_EQ(bench->writes(), std::vector<std::string>{wire(c.bytes)});
        EXPECT_EQ(session->busy.load(), 0);
    }
}

// Every serial an FTDI bridge holds (up to 15 characters) with every value the worker sends
// (magnitude below 11000) makes a whole command; nothing is cut.
TEST_F(ExchangesTest, TheChannelIndexAndValueGoOutAsGiven) {
    struct Case {
        std::string serial;
        std::int32_t channel;
        std::int32_t value;
        const char* bytes;
    };
    for (const Case& c : {Case{"42", 2, 0, "PZ442S 2,0"}, Case{"7", 0, 10999, "PZ47S 0,10999"},
                          Case{"7", 2, -10999, "PZ47S 2,-10999"},
                          Case{"12345678", 1, 10999, "PZ412345678S 1,10999"},
                          Case{"12345678", 2, -10999, "PZ412345678S 2,-10999"},
                          Case{"ABCDEFGHIJKLMNO", 0, 10999, "PZ4ABCDEFGHIJKLMNOS 0,10999"},
                          Case{"ABCDEFGHIJKLMNO", 2, -10999, "PZ4ABCDEFGHIJKLMNOS 2,-10999"}}) {
        SCOPED_TRACE(c.serial + " " + std::to_string(c.value));
        start(c.serial);
        EXPECT_EQ(session->SendSetCommand(c.channel, c.value), SetOutcome::Acknowledged);
        EXPECT_EQ(bench->writes(), std::vector<std::string>{wire(c.bytes)});
        EXPECT_EQ(session->busy.load(), 0);
    }
}

TEST_F(ExchangesTest, OnlyTheExactAcknowledgementCounts) {
    struct Case {
        std::string reply;  // empty: the supply stays silent
        bool acknowledged;
    };
    const Case cases[] = {
        {"42,ok\r\n", true},   {"42,ok\n", true},       {std::string("42,ok\0", 6), true},
        {"42,ok\r\nXY", true}, {"42,OK\r\n", false},    {"42,ok \r\n", false},
        {" 42,ok\r\n", false}, {"43,ok\r\n", false},    {"42,okay\r\n", false},
        {"ERR\r\n", false},    {"ERR42,ok\r\n", false}, {"\r\n", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.reply + "\"");
        start();
        answerNextWith(c.reply);
        EXPECT_EQ(session->SendSetCommand(1, 800) == SetOutcome::Acknowledged, c.acknowledged);
        EXPECT_EQ(session->busy.load(), 0);
    }
}

TEST_F(ExchangesTest, NumericRepliesAreJudgedAgainstTheSerial) {
    struct Case {
        std::string reply;  // empty: the supply stays silent
        std::int32_t result;
        int count;
    };
    const Case cases[] = {
        {"42,100,-5,+7\r\n", 1, 3},
        {"42,100\r\n", 1, 1},
        {"\n", 0, 0},
        {"42\r\n", 0, 0},
        {"43,100,-5,7\r\n", 0, 0},
        {"ERR\r\n", 0, 0},
        {"ERR,1,2,3\r\n", 0, 0},
        {"42,1,2,3,4\r\n", 0, 3},
        {"42,1.5\r\n", 0, 0},
        {"", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("\"" + c.reply + "\"");
        start();
        answerNextWith(c.reply);
        EXPECT_EQ(run(Exchange::Query), c.result);
        EXPECT_EQ(readings.count, c.count);
        if (c.result == 1 && c.count == 3) {
            EXPECT_EQ(readings.values, (std::array<std::int32_t, 3>{100, -5, 7}));
        }
        EXPECT_EQ(session->busy.load(), 0);
    }
}

// The operator may choose another supply while a command is on its way: the command and its
// reply stay with the supply that is open, and never name the one chosen.
TEST_F(ExchangesTest, CommandsAndRepliesStayWithTheOpenSupply) {
    for (Exchange x : {Exchange::Set, Exchange::Query, Exchange::Status}) {
        SCOPED_TRACE(name(x));
        start();
        session->serial.store("43");
        bench->driver.setCommandObserver(
            [&](std::uint64_t, std::string_view, std::string_view) { session->serial.store("7"); });
        EXPECT_GT(run(x), 0);
        ASSERT_EQ(bench->driver.commands().size(), 1u);
        EXPECT_TRUE(bench->driver.commands()[0].starts_with("PZ442"));
        EXPECT_EQ(bench->driver.misaddressedCount(), 0u);
        EXPECT_EQ(session->busy.load(), 0);
    }
}

// Acceptance counts the bytes received, line end included; the status reply is tested
// neither for "ERR" nor for the serial.
TEST_F(ExchangesTest, StatusRepliesAreCountedWithTheirLineEnd) {
    const std::string text29 = "1 S:110 MOD:UIU 0000000000000";
    ASSERT_EQ(text29.size(), 29u);
    struct Case {
        std::string reply;
        std::int32_t count;
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {text29 + "\r\n", 31, text29, true},
        {text29 + "\n", 30, text29, false},
        {"ERR" + text29.substr(3) + "xyz\r\n", 34, "ERR" + text29.substr(3) + "xyz", true},
        {std::string(80, '7'), 69, std::string(69, '7'), true},
        // Bytes that trail off into silence are no reply, however many, and neither is a line
        // behind another: its positions would be read from the other.
        {std::string(40, '7'), 0, std::string(40, '7'), false},
        {"7\r\n" + text29 + "\r\n", 0, "7\r\n" + text29, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        start("OTHER");
        bench->driver.queueReply("OTHER", c.reply);
        EXPECT_EQ(run(Exchange::Status), c.count);
        EXPECT_EQ(std::string(statusReply.data()), c.text);
        EXPECT_EQ(statusReplyAccepted(c.count), c.accepted);
    }

    // The longest serial a bridge reports still fits the status query.
    const std::string serial15 = k14 + "5";
    start(serial15);
    run(Exchange::Status);
    EXPECT_EQ(bench->writes(), std::vector<std::string>{wire("PZ4" + serial15 + "GSS")});
}

// Closing or no open device: nothing is written and the read fails at once, without waiting
// for a reply; closing skips the exchanges' pauses too.
TEST_F(ExchangesTest, NothingIsWrittenWhileClosingOrWithNoDeviceOpen) {
    using Pauses = std::vector<std::uint32_t>;
    for (bool closing : {true, false}) {
        const std::pair<Exchange, Pauses> cases[] = {
            {Exchange::Set, closing ? Pauses{} : Pauses{60}},
            {Exchange::Query, closing ? Pauses{} : Pauses{20, 0}},
            {Exchange::Status, {0}}};
        for (const auto& [exchange, pauses] : cases) {
            SCOPED_TRACE(std::string(name(exchange)) + (closing ? ", closing" : ", not open"));
            start();
            bench->driver.injectBytes("42", "42,ok\r\n");  // would pass for a reply
            if (closing) {
                session->link->closing = true;
            } else {
                session->link->closeDevice();
            }
            bench->clock.pauses.clear();
            EXPECT_EQ(run(exchange), 0);
            EXPECT_TRUE(bench->writes().empty());
            EXPECT_EQ(bench->clock.pauses, pauses);
            EXPECT_EQ(session->busy.load(), 0);
        }
    }
}

// A write the driver refuses, cuts short or cannot make fails the exchange before any read: no
// reader poll follows it.
TEST_F(ExchangesTest, AFailedWriteFailsTheExchangeWithoutReading) {
    struct Case {
        const char* name;
        bool failWrite;
        bool shortWrite;
        void (*edit)(D2xxEntries&);
    };
    const Case writes[] = {
        {"error status", true, false, nullptr},
        {"short write", false, true, nullptr},
        {"no FT_Write", false, false, [](D2xxEntries& e) { e.FT_Write = nullptr; }},
    };
    const std::pair<Exchange, Trace> exchanges[] = {
        {Exchange::Set, {{60, 1}}}, {Exchange::Query, {{20, 0}}}, {Exchange::Status, {}}};
    for (const Case& w : writes) {
        for (const auto& [x, pauses] : exchanges) {
            SCOPED_TRACE(std::string(w.name) + ", " + name(x));
            start("42", w.edit);
            bench->driver.faults("42").failWrite = w.failWrite;
            bench->driver.faults("42").shortWrite = w.shortWrite;
            EXPECT_EQ(run(x), 0);
            EXPECT_EQ(trace, pauses);
            EXPECT_EQ(session->busy.load(), 0);
        }
    }
}

}  // namespace
}  // namespace pz4
