// Runs the worker for a few passes over a driver whose answers, and when they come, are the fuzz
// input: every command written takes the next answer, which arrives after a delay and in pieces
// the input chooses. So the drain of stale bytes, the exchanges, the status handling and the
// giving up of a connection all meet arbitrary bytes at arbitrary times. Whatever comes, a
// voltage may only be shown if a well-formed reply to a voltage query carried it for that
// channel, a current only from a reply to a current query, and the worker's state stays within
// its bounds. Answers start at most 765 ms late: a reply later than the worker waits for counts
// as lost, and is beyond what this can hold the worker to.
//
// Input layout (tests/fuzz/make-corpus writes seeds in this form):
//   byte 0      serial length L (1 + b % 6), then L bytes of serial text
//   byte        passes to run (1 + b % 24)
//   byte        set value for channel 0 (b * 8), confirmed before the fifth pass
//   then, for each command in turn: delay (b * 3 ms), piece gap (b % 64 ms), piece size
//   (1 + b % 32), length N, then N bytes of answer; once the input runs out, silence
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "link/ftdi_link.h"
#include "protocol/device_session.h"
#include "sim/virtual_clock.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"
#include "worker/readout_view.h"

namespace {

using namespace pz4;

constexpr int kMaxPasses = 24;

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "dialogue_fuzzer: %s\n", what);
        std::abort();
    }
}

struct Arrival {
    std::uint64_t atMs;
    char byte;
};

// The supply and its driver, as the fuzz input makes them.
struct Dialogue {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    sim::VirtualClock* clock = nullptr;
    std::string serial;
    std::deque<Arrival> line;  // bytes on their way, in time order
    std::string sinceLineEnd;  // what the supply sent after its last line end
    // Per kind of query (0 voltages, 1 currents, 2 anything else) and channel, the values that
    // well-formed replies naming the supply carried.
    std::array<std::array<std::set<std::int64_t>, 3>, 3> carried;

    std::uint8_t take() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
};

Dialogue dialogue;
int handleToken;

// The reply grammar, written out again: the serial, one to three fields of a comma and a value
// of at most nine digits or signs, blanks before a comma or the end. Notes what it carried, as
// an answer to a query of that kind.
void noteIfWellFormed(std::string_view text, std::size_t kind) {
    if (!text.starts_with(dialogue.serial)) {
        return;
    }
    std::size_t pos = dialogue.serial.size();
    std::array<std::int64_t, 3> values{};
    int fields = 0;
    auto skipBlanks = [&] {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
            ++pos;
        }
    };
    skipBlanks();
    while (pos < text.size()) {
        if (text[pos] != ',' || fields == 3) {
            return;
        }
        const std::size_t start = ++pos;
        while (pos < text.size() &&
               ((text[pos] >= '0' && text[pos] <= '9') || text[pos] == '+' || text[pos] == '-')) {
            ++pos;
        }
        if (pos == start || pos - start > 9) {
            return;
        }
        values[static_cast<std::size_t>(fields++)] =
            std::atoi(std::string(text.substr(start, pos - start)).c_str());
        skipBlanks();
    }
    for (int i = 0; i < fields; ++i) {
        dialogue.carried[kind][static_cast<std::size_t>(i)].insert(
            values[static_cast<std::size_t>(i)]);
    }
}

// Each command takes the next answer from the input; a line counts as an answer to the command
// whose answer ends it.
void answer(std::size_t kind) {
    const std::uint64_t delay = dialogue.take() * 3u;
    const std::uint64_t gap = dialogue.take() % 64u;
    const std::size_t piece = 1 + dialogue.take() % 32u;
    const std::size_t length = std::min<std::size_t>(dialogue.take(), dialogue.size);
    const std::string_view bytes(reinterpret_cast<const char*>(dialogue.data), length);
    dialogue.data += length;
    dialogue.size -= length;
    std::uint64_t at = std::max(dialogue.clock->tickMs() + delay,
                                dialogue.line.empty() ? 0 : dialogue.line.back().atMs);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % piece == 0) {
            at += gap;
        }
        dialogue.line.push_back({at, bytes[i]});
    }
    // The reader may take a line from any byte on, once what came before has been thrown away:
    // every tail of what the supply sent that ends at a line end is a reply it could accept.
    for (const char c : bytes) {
        if (c != '\r' && c != '\n' && c != '\0') {
            dialogue.sinceLineEnd += c;
            continue;
        }
        const std::string_view text = dialogue.sinceLineEnd;
        for (std::size_t from = text.size() > 128 ? text.size() - 128 : 0; from < text.size();
             ++from) {
            noteIfWellFormed(text.substr(from), kind);
        }
        dialogue.sinceLineEnd.clear();
    }
}

std::size_t arrived() {
    std::size_t n = 0;
    while (n < dialogue.line.size() && dialogue.line[n].atMs <= dialogue.clock->tickMs()) {
        ++n;
    }
    return n;
}

FT_STATUS stubCreateDeviceInfoList(DWORD* count) {
    *count = 1;
    return FT_OK;
}

FT_STATUS stubGetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, DWORD* count) {
    FT_DEVICE_LIST_INFO_NODE node{};
    std::memcpy(node.SerialNumber, dialogue.serial.data(), dialogue.serial.size());
    std::memcpy(node.Description, kSupplyDescription.data(), kSupplyDescription.size());
    nodes[0] = node;
    *count = 1;
    return FT_OK;
}

FT_STATUS stubOpen(int, FT_HANDLE* handle) {
    *handle = &handleToken;
    return FT_OK;
}

FT_STATUS stubClose(FT_HANDLE) {
    return FT_OK;
}

FT_STATUS stubSetBaudRate(FT_HANDLE, std::uint32_t) {
    return FT_OK;
}

FT_STATUS stubSetDataCharacteristics(FT_HANDLE, std::uint8_t, std::uint8_t, std::uint8_t) {
    return FT_OK;
}

FT_STATUS stubWrite(FT_HANDLE, void* buffer, DWORD toWrite, DWORD* written) {
    check(toWrite > 0 && static_cast<const char*>(buffer)[toWrite - 1] == '\0',
          "a command without its NUL");
    *written = toWrite;
    const std::string_view command(static_cast<const char*>(buffer), toWrite - 1);
    answer(command.ends_with("GU") ? 0 : command.ends_with("GI") ? 1 : 2);
    return FT_OK;
}

FT_STATUS stubGetQueueStatus(FT_HANDLE, DWORD* waiting) {
    *waiting = static_cast<DWORD>(arrived());
    return FT_OK;
}

FT_STATUS stubRead(FT_HANDLE, void* buffer, DWORD toRead, DWORD* read) {
    check(toRead <= arrived(), "asked for more bytes than were waiting");
    for (DWORD i = 0; i < toRead; ++i) {
        static_cast<char*>(buffer)[i] = dialogue.line.front().byte;
        dialogue.line.pop_front();
    }
    *read = toRead;
    return FT_OK;
}

constexpr D2xxEntries kStubEntries = {
    .FT_Open = stubOpen,
    .FT_Close = stubClose,
    .FT_Read = stubRead,
    .FT_Write = stubWrite,
    .FT_SetBaudRate = stubSetBaudRate,
    .FT_SetDataCharacteristics = stubSetDataCharacteristics,
    .FT_GetQueueStatus = stubGetQueueStatus,
    .FT_GetDeviceInfoList = stubGetDeviceInfoList,
    .FT_CreateDeviceInfoList = stubCreateDeviceInfoList,
};

// The window as far as the worker can tell; it checks what it is asked to show.
class CheckingView final : public ReadoutView {
  public:
    void ShowReading(Readout field, std::string_view text) override {
        const int id = static_cast<int>(field);
        check(id >= 1000 && id <= 1005, "a readout that does not exist");
        check(!text.empty() && text.size() < 12, "a reading text of odd length");
    }
    void MarkStale(Readout) override {}
    void ClearReadings() override {}
    void ShowSetFailed(int, std::string_view) override {}
    std::string GetSetFieldText(int channel) override {
        return fields_.at(static_cast<std::size_t>(channel));
    }
    void SetSetFieldText(int channel, std::string_view text) override {
        fields_.at(static_cast<std::size_t>(channel)) = std::string(text);
    }
    void PrefillSetField(int channel, std::string_view text) override {
        auto& field = fields_.at(static_cast<std::size_t>(channel));
        if (field.empty()) {
            field = std::string(text);
        }
    }
    void SetSetFieldReadOnly(int channel, bool) override {
        check(channel >= 0 && channel < 3, "a set field that does not exist");
    }
    void ResetSerialList() override {}
    void AddSerial(std::string_view) override {}
    int SerialListCount() override { return 1; }
    int FindSerial(std::string_view) override { return 0; }
    void SelectSerial(int) override {}
    void ShowError(std::string_view text) override {
        check(std::string_view(text).starts_with("Communication error with PZ4 "),
              "an error that is not the firmware message");
    }
    void PostCloseRequest() override {}

  private:
    std::array<std::string, 3> fields_{};
};

void checkShown(const ChannelSlots& shown, bool voltages) {
    for (std::size_t ch = 0; ch < 3; ++ch) {
        const std::int64_t v = shown[ch].load();
        if (v == NO_VALUE || (voltages && v == FORCE_REFRESH)) {
            continue;
        }
        if (!dialogue.carried[voltages ? 0 : 1][ch].contains(v)) {
            std::fprintf(stderr, "dialogue_fuzzer: %s %lld on channel %zu\n",
                         voltages ? "voltage" : "current", static_cast<long long>(v), ch);
            check(false, "a reading shown that no reply of its kind carried for that channel");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::VirtualClock clock;
    dialogue = Dialogue{};
    dialogue.data = data;
    dialogue.size = size;
    dialogue.clock = &clock;
    const std::size_t serialLength = 1 + dialogue.take() % 6u;
    for (std::size_t i = 0; i < serialLength; ++i) {
        // Printable and no comma or sign, so that the serial is a text a supply could have.
        dialogue.serial += static_cast<char>('0' + dialogue.take() % 10u);
    }
    const int passes = 1 + dialogue.take() % kMaxPasses;
    const std::int64_t setValue = dialogue.take() * 8;

    fillChannelTables(NO_VALUE);
    StopRequested.store(false);
    auto session = DeviceSession::create(std::make_unique<FtdiLink>(kStubEntries, clock), nullptr);
    session->deviceCount = 1;
    session->serial.store(dialogue.serial);
    CheckingView view;
    PollWorker worker(*session, view, clock);
    worker.start();
    for (int pass = 0; pass < passes; ++pass) {
        if (pass == 4) {
            SetRequest[0].store(setValue);
        }
        const bool goOn = worker.runPass();
        check(session->busy.load() == 0, "the bus left held");
        check(worker.failedPolls() >= 0 && worker.failedPolls() <= 2, "failed passes unbounded");
        checkShown(VoltageShown, true);
        checkShown(CurrentShown, false);
        const StatusBytes status = session->status.snapshot();
        check(std::memchr(status.data(), '\0', status.size()) != nullptr, "status unterminated");
        if (!goOn) {
            break;
        }
    }
    worker.exit();
    check(!session->link->isOpen(), "the device left open");
    return 0;
}
