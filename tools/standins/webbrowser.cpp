// webbrowser.exe, the machine's default web browser. Its command line is
// one address (a web address, or a page on drive C: when a document is
// opened); it hands that to the host desktop's opener when the host has a
// desktop, and in any case records "browser.open" with the address.

#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

#include <cstdlib>
#include <string>

namespace {

// The host's own opener, when there is a desktop to open things on. Tests
// run without DISPLAY, so they never reach a real browser.
std::string handToHost(const std::string& address)
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display || address.empty())
        return "none";
    auto opener = platform::process::findHostProgram("xdg-open");
    if (!opener)
        return "none";
    // A page on drive C: means nothing to the host; its host path does.
    std::string target = address;
    if (auto host = platform::paths::toHost(platform::text::toUtf16(address)))
        target = host->string();
    auto started = platform::process::startHostProgram(*opener, { target });
    return started ? "xdg-open" : "none";
}

} // namespace

int main(int argc, char** argv)
{
    // NOTE: an address handed over unquoted may come split at its blanks;
    // the arguments together are the one address, as the platform's
    // browsers take their command line.
    std::string address;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            address += ' ';
        address += argv[i];
    }
    const std::string opener = handToHost(address);
    platform::journal::record("browser.open", { { "address", address }, { "opener", opener } });
    return 0;
}
