#include "cli/console_view.h"

#include <cstdio>
#include <string>

namespace pz4::cli {

void ConsoleView::ShowError(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        c = c == '\n' ? ' ' : c;  // one line on the console
    }
    std::fprintf(stderr, "pz4ctl: %s\n", line.c_str());
}

}  // namespace pz4::cli
