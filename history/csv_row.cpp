#include "history/csv_row.h"

#include <charconv>

#include "history/iso_time.h"

namespace pz4 {
namespace {

bool printable(char c) {
    return c > ' ' && c < 0x7f;
}

// The field as RFC 4180 has it; bytes above 127 as the Latin-1 characters the window shows them
// as, written in UTF-8.
void appendField(std::string& line, std::string_view text) {
    const bool quoted = text.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quoted) {
        line += '"';
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"') {
            line += "\"\"";
        } else if (byte >= 0x80) {
            line += static_cast<char>(0xC0 | (byte >> 6));
            line += static_cast<char>(0x80 | (byte & 0x3F));
        } else {
            line += c;
        }
    }
    if (quoted) {
        line += '"';
    }
}

}  // namespace

std::string_view csvUnitName(WorkerEventKind kind) {
    switch (kind) {
        case WorkerEventKind::Voltage:
        case WorkerEventKind::Set:
        case WorkerEventKind::SetFailed:
            return "V";
        case WorkerEventKind::Current:
            return "uA";
        default:
            return "";
    }
}

std::string_view csvKindName(WorkerEventKind kind) {
    switch (kind) {
        case WorkerEventKind::Voltage:
            return "voltage";
        case WorkerEventKind::Current:
            return "current";
        case WorkerEventKind::Status:
            return "status";
        case WorkerEventKind::Set:
            return "set";
        case WorkerEventKind::SetFailed:
            return "set-failed";
        case WorkerEventKind::Chosen:
            return "chosen";
        case WorkerEventKind::Opened:
            return "opened";
        case WorkerEventKind::GivenUp:
            return "given-up";
        case WorkerEventKind::Unplugged:
            return "unplugged";
    }
    return "";
}

std::string stateColumn(char state, char mode) {
    std::string text;
    switch (state) {
        case '0':
            text = "off";
            break;
        case '1':
            text = "on";
            break;
        case '2':
            text = "error";
            break;
        default:
            // A state of no known meaning is written as the supply sent it.
            if (printable(state)) {
                text = state;
            }
            break;
    }
    if (!text.empty() && printable(mode)) {
        text += ' ';
        text += mode;
    }
    return text;
}

std::string formatCsvRow(const CsvRow& row) {
    std::string line = localIsoTime(row.wallMs);
    line += ',';
    appendField(line, row.serial.view());
    line += ',';
    if (row.channel >= 0 && row.channel < 3) {
        line += static_cast<char>('1' + row.channel);
    }
    line += ',';
    line += csvKindName(row.kind);
    line += ',';
    if (row.value) {
        char number[16];
        const auto end = std::to_chars(number, number + sizeof number, *row.value).ptr;
        line.append(number, end);
        line += ',';
        line += csvUnitName(row.kind);
    } else {
        line += ',';
    }
    line += ',';
    appendField(line, stateColumn(row.state, row.mode));
    line += '\n';
    return line;
}

}  // namespace pz4
