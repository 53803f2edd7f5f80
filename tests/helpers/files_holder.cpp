// Opens one file on the current machine and holds it open until told to let
// go, so that tests can meet a real open of another process.
//
//   files_holder <path> <access> <share> <create> <ready-fifo> <release-fifo>
//
// access: none, r, w, rw; share: none, r, w, rw, d, all; create: the
// platform's disposition number (1-5). The helper writes the open's error code
// (0 for success) and a newline to the ready FIFO; after a successful open it
// waits for one byte on the release FIFO, closes the file, writes "closed" and
// ends. Exit code 0 when the protocol ran, 2 for bad arguments.

#include "platform/files.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

using namespace platform;

namespace {

bool writeAll(int fd, const std::string& message)
{
    size_t done = 0;
    while (done < message.size()) {
        ssize_t count = ::write(fd, message.data() + done, message.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += size_t(count);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: files_holder <path> <access> <share> <create> <ready-fifo> <release-fifo>\n");
        return 2;
    }
    const std::map<std::string, files::Access> accesses { { "none", files::Access::None }, { "r", files::Access::Read },
        { "w", files::Access::Write }, { "rw", files::Access::ReadWrite } };
    const std::map<std::string, files::Share> shares {
        { "none", files::Share::None },
        { "r", files::Share::Read },
        { "w", files::Share::Write },
        { "rw", files::Share::ReadWrite },
        { "d", files::Share::Delete },
        { "all", files::Share::All },
    };
    auto access = accesses.find(argv[2]);
    auto share = shares.find(argv[3]);
    int create = std::atoi(argv[4]);
    if (access == accesses.end() || share == shares.end() || create < 1 || create > 5) {
        std::fprintf(stderr, "files_holder: bad access, share or create\n");
        return 2;
    }

    // The release FIFO is open (for reading and writing, so that it never
    // reads end-of-file) before readiness is reported, so the test can always
    // open its writing end without blocking.
    int release = ::open(argv[6], O_RDWR | O_CLOEXEC);
    int ready = ::open(argv[5], O_WRONLY | O_CLOEXEC);
    if (release < 0 || ready < 0) {
        std::perror("files_holder: fifo");
        return 2;
    }

    auto file = files::open(text::toUtf16(argv[1]), access->second, share->second, files::Create(create));
    if (!writeAll(ready, std::to_string(file.code()) + "\n"))
        return 2;
    if (!file)
        return 0;

    char byte = 0;
    while (::read(release, &byte, 1) < 0 && errno == EINTR) { }
    file->close();
    writeAll(ready, "closed\n");
    return 0;
}
