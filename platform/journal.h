#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::journal {

// The machine journal: every observable thing the platform does on behalf of
// a program (a program started, a message box shown, a key pressed, a display
// change, a power request) is one entry. Tests read it to see what happened.
using Fields = std::vector<std::pair<std::string, std::string>>;

struct Entry {
    uint64_t timeMicroseconds { 0 }; // since the Unix epoch
    int32_t pid { 0 };
    std::string program; // file name of the recording process
    std::string kind; // dotted name: "process.start", "messagebox.show"
    Fields fields;

    // The value of a field, or empty when the entry has none by that name.
    std::string field(std::string_view name) const;
};

// Appends one entry. Never fails loudly: a journal that cannot be written
// leaves the program running as before.
void record(std::string_view kind, Fields fields = {});

// Every entry so far, oldest first. Lines that cannot be parsed are skipped.
std::vector<Entry> read();

// The entries of one kind, oldest first.
std::vector<Entry> read(std::string_view kind);

// "12:04:05.123456 pid program kind key=value ..." for people.
std::string format(const Entry& entry);

} // namespace platform::journal
