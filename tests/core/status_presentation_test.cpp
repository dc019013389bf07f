// How a status reply becomes the state words and edit permissions of the set fields, and how
// firmware that cannot answer is told apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/virtual_clock.h"
#include "tests/core/recording_view.h"
#include "worker/channel_tables.h"
#include "worker/status_presentation.h"

namespace pz4 {
namespace {

using Lines = std::vector<std::string>;

constexpr char kFirmwareMessage[] =
    "ShowError Communication error with PZ4 42.\nMake sure that firmware\n2.13 or higher is "
    "installed.";

// A status text in the supply's layout: states at positions 4 to 6, modes at 12 to 14.
std::string status(const std::string& states, const std::string& modes,
                   const std::string& tail = "FW:2.13 T:+23C") {
    return "1 S:" + states + " MOD:" + modes + " " + tail;
}

class StatusPresentationTest : public ::testing::Test {
  protected:
    StatusPresentationTest() {
        fillChannelTables(NO_VALUE);
        StopRequested = false;
        WorkerRunning = true;
        // The handling reads only the reply it is given; the supply is open so that the firmware
        // message can name it.
        driver.addSupply("42");
        driver.addSupply("1234");
        session =
            DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
        session->serial.store("42");
        session->link->openBySerial("42");
    }

    // Presents text as received with CR LF, or as received bytes when given.
    Lines present(const std::string& text, int received = -1) {
        StatusReply reply{};
        const std::size_t n = std::min(text.size(), reply.size() - 1);
        std::copy_n(text.begin(), n, reply.begin());
        stopped =
            presentStatus(*session, view, reply, received < 0 ? static_cast<int>(n) + 2 : received);
        return view.takeLines();
    }

    sim::VirtualClock clock;
    sim::SimDriver driver{clock};
    std::unique_ptr<DeviceSession> session;
    test::RecordingView view;
    bool stopped = false;
};

TEST_F(StatusPresentationTest, TheFirstReplyIsPresentedInFull) {
    EXPECT_EQ(present(status("012", "UUU")),
              (Lines{"SetSetFieldText 0 off", "SetSetFieldText 1 <empty>",
                     "SetSetFieldText 2 error", "SetSetFieldReadOnly 0 true",
                     "SetSetFieldReadOnly 1 false", "SetSetFieldReadOnly 2 true"}));
    EXPECT_FALSE(stopped);
    EXPECT_EQ(VoltageShown[0], NO_VALUE);
    EXPECT_EQ(VoltageShown[1], FORCE_REFRESH);
    EXPECT_EQ(session->status.at(5), '1');
}

TEST_F(StatusPresentationTest, AnIdenticalReplyDoesNothingUntilThePreviousIsForgotten) {
    const std::string text = status("111", "UIU");
    const Lines full = present(text);
    VoltageShown[0] = 500;
    EXPECT_EQ(present(text), Lines{});
    EXPECT_EQ(VoltageShown[0], 500);

    session->ForgetPreviousStatus();
    EXPECT_EQ(present(text), full);
    EXPECT_EQ(VoltageShown[0], FORCE_REFRESH);
}

// Each case changes channel 0 (or more) from one reply to the next.
TEST_F(StatusPresentationTest, TextsFollowTheStateAndEditabilityFollowsStateAndMode) {
    struct Case {
        std::string from, to;
        Lines lines;
        bool forcesRefresh;
    };
    const Case cases[] = {
        {status("111", "UUU"), status("311", "UUU"), {"SetSetFieldReadOnly 0 true"}, false},
        {status("111", "IUU"), status("111", "UUU"), {"SetSetFieldReadOnly 0 false"}, true},
        {status("111", "UUU"), status("111", "IUU"), {"SetSetFieldReadOnly 0 true"}, false},
        {status("011", "UUU"),
         status("111", "UUU"),
         {"SetSetFieldText 0 <empty>", "SetSetFieldReadOnly 0 false"},
         true},
        {status("011", "IUU"),
         status("111", "IUU"),
         {"SetSetFieldText 0 on", "SetSetFieldReadOnly 0 true"},
         false},
        {status("111", "UUU"),
         status("011", "UUU"),
         {"SetSetFieldText 0 off", "SetSetFieldReadOnly 0 true"},
         false},
        {status("111", "UUU"),
         status("211", "UUU"),
         {"SetSetFieldText 0 error", "SetSetFieldReadOnly 0 true"},
         false},
        // A mode change on an off channel: still read-only, said again.
        {status("011", "IUU"), status("011", "UUU"), {"SetSetFieldReadOnly 0 true"}, false},
        // Only uninterpreted positions changed.
        {status("111", "UUU"), status("111", "UUU", "FW:2.13 T:+24C"), {}, false},
        // All texts come before any edit permission.
        {status("000", "UUU"),
         status("110", "UIU"),
         {"SetSetFieldText 0 <empty>", "SetSetFieldText 1 on", "SetSetFieldReadOnly 0 false",
          "SetSetFieldReadOnly 1 true"},
         true},
    };
    for (const Case& c : cases) {
        present(c.from);
        VoltageShown[0] = 500;
        EXPECT_EQ(present(c.to), c.lines) << c.from << " -> " << c.to;
        EXPECT_EQ(VoltageShown[0], c.forcesRefresh ? FORCE_REFRESH : 500) << c.to;
        EXPECT_FALSE(stopped);
        session->ForgetPreviousStatus();
    }
}

TEST_F(StatusPresentationTest, OnlyRepliesOfMoreThan30BytesCount) {
    const std::string text = status("111", "UUU");
    EXPECT_EQ(present(text, 30), Lines{});
    EXPECT_EQ(session->status.at(0), '\0') << "the refused reply was not taken";
    EXPECT_EQ(present(text, 31).size(), 6u);
}

TEST_F(StatusPresentationTest, AShortOrOverlongTextIsReadWithinItsBytes) {
    present(status("111", "UUU"));
    // A short text leaves the interpreted positions as the longer one before it left them.
    EXPECT_EQ(present("1", 40), Lines{});
    EXPECT_EQ(session->status.at(4), '1');

    // A reply longer than a status text is cut to 63 characters.
    const std::string longText = status("000", "UUU", std::string(60, 'x'));
    EXPECT_EQ(present(longText).size(), 6u);
    EXPECT_EQ(session->status.at(62), 'x');
    EXPECT_EQ(session->status.at(63), '\0');
}

// Firmware that cannot answer the status query fails the digit test every time; one reply that
// fails it (noise, a reply out of step) changes nothing at all.
TEST_F(StatusPresentationTest, FirmwareIsJudgedByTwoAcceptedRepliesInARow) {
    const std::string good = status("111", "UUU");
    const std::string other = status("101", "UUU");
    const std::string letter = "A" + good.substr(1);
    const std::string blank = " " + good.substr(1);
    const std::string err = "ERR unknown command GSS -------";
    struct Case {
        const char* name;
        std::vector<std::string> replies;  // after a good one; "short" is a reply of 20 bytes
        bool verdict;
    };
    const Case cases[] = {
        {"one letter", {letter}, false},
        {"a letter, then a good reply", {letter, other}, false},
        {"two in a row", {letter, blank}, true},
        {"an error reply twice", {err, err}, true},
        {"a good reply between", {letter, other, err}, false},
        {"a short reply between does not count", {letter, "short", err}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session->ForgetPreviousStatus();
        present(good);
        StopRequested = false;
        Lines lines;
        for (const std::string& reply : c.replies) {
            ASSERT_FALSE(stopped);
            lines = reply == "short" ? present(good, 20) : present(reply);
        }
        EXPECT_EQ(stopped, c.verdict);
        EXPECT_EQ(StopRequested, c.verdict);
        if (c.verdict) {
            EXPECT_EQ(lines, Lines{kFirmwareMessage});
        } else if (c.replies.back() != other) {
            EXPECT_EQ(lines, Lines{});
            EXPECT_EQ(session->status.at(0), '1') << "a garbled reply is not kept";
        }
    }

    // The message names the supply that answered, whatever the operator has chosen since.
    session->link->openBySerial("1234");
    session->serial.store("7");
    session->ForgetPreviousStatus();
    present("X" + good.substr(1));
    present("X" + good.substr(1));
    ASSERT_FALSE(view.errors().empty());
    EXPECT_TRUE(view.errors().back().starts_with("Communication error with PZ4 1234.\n"));
}

}  // namespace
}  // namespace pz4
