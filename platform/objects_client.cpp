#include "platform/objects_client_p.h"
#include "platform/objects_p.h"

#include "platform/machine.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform::objects {

namespace fs = std::filesystem;

namespace wire {

std::string socketName(const std::string& machineRoot)
{
    // FNV-1a over the folder's path: stable, and short enough for any path.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : machineRoot) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("tavio-objectd-") + digits;
}

} // namespace wire

namespace {

std::string machineKey()
{
    std::error_code error;
    fs::path root = fs::weakly_canonical(fs::absolute(machine::root(), error), error);
    return root.lexically_normal().string();
}

bool sendAll(int fd, const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool receiveAll(int fd, char* buffer, size_t size)
{
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::recv(fd, buffer + got, size - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Sends a frame and reads the reply frame; false when the manager is gone.
bool exchange(int fd, const wire::Writer& message, std::string& replyBody)
{
    if (!sendAll(fd, message.frame()))
        return false;
    uint32_t size = 0;
    if (!receiveAll(fd, reinterpret_cast<char*>(&size), 4) || size > wire::MaxFrame)
        return false;
    replyBody.assign(size, '\0');
    return receiveAll(fd, replyBody.data(), size);
}

int connectTo(const std::string& name)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    // Abstract namespace: a leading NUL, no file behind the name.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Connects and greets; -1 when no manager answered.
int connectAndGreet(const std::string& name)
{
    int fd = connectTo(name);
    if (fd < 0)
        return -1;
    wire::Writer hello;
    hello.u32(static_cast<uint32_t>(wire::Operation::Hello));
    hello.u32(wire::Version);
    std::string reply;
    // A manager that is just exiting may accept and then drop us: treat that
    // like no manager at all.
    if (!exchange(fd, hello, reply)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

fs::path executableFolder()
{
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error).parent_path();
}

fs::path findManagerProgram()
{
    std::vector<fs::path> candidates;
    if (const char* explicitPath = std::getenv("TAVIO_MACHINED"); explicitPath && *explicitPath)
        candidates.emplace_back(explicitPath);
    if (const char* bin = std::getenv("TAVIO_BIN"); bin && *bin)
        candidates.push_back(fs::path(bin) / "tavio-machined");
    fs::path exeFolder = executableFolder();
    candidates.push_back(exeFolder / "tavio-machined");
    candidates.push_back(exeFolder.parent_path() / "bin" / "tavio-machined");
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&findManagerProgram), &info) && info.dli_fname)
        candidates.push_back(fs::path(info.dli_fname).parent_path() / "tavio-machined");
    // Recorded by the machine tool when it made the machine.
    if (FILE* recorded = std::fopen((machine::root() / "objectd.path").c_str(), "r")) {
        char line[PATH_MAX] {};
        if (std::fgets(line, sizeof line, recorded)) {
            std::string text(line);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            candidates.emplace_back(text);
        }
        std::fclose(recorded);
    }
    for (const auto& candidate : candidates) {
        if (!candidate.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Starts the manager for this machine and waits until it listens. The
// caller holds the spawn lock, so no two programs start one at once.
bool startManager(const std::string& key, const std::string& name)
{
    fs::path program = findManagerProgram();
    if (program.empty())
        return false;
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    std::string programText = program.string();
    std::string socketArgument = "--socket=" + name;
    std::string machineArgument = "--machine=" + key;
    std::string readyArgument = "--ready-fd=3";
    char* argv[] = { programText.data(), socketArgument.data(), machineArgument.data(), readyArgument.data(), nullptr };
    pid_t pid = -1;
    int rc = posix_spawn(&pid, programText.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    if (rc != 0) {
        ::close(ready[0]);
        return false;
    }
    // The program forks its resident part and exits at once; reap it here so
    // no zombie is left with the calling program.
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    pollfd waitReady { ready[0], POLLIN, 0 };
    bool started = false;
    if (::poll(&waitReady, 1, 10000) > 0) {
        char byte = 0;
        started = ::read(ready[0], &byte, 1) == 1;
    }
    ::close(ready[0]);
    return started;
}

int openConnection(const std::string& key)
{
    const std::string name = wire::socketName(key);
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (int fd = connectAndGreet(name); fd >= 0)
            return fd;
        std::error_code error;
        fs::path runtime = fs::path(key) / "run";
        fs::create_directories(runtime, error);
        int lockFd = ::open((runtime / "objectd.spawn.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lockFd < 0)
            return -1;
        while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) { }
        int fd = connectAndGreet(name);
        if (fd < 0 && startManager(key, name))
            fd = connectAndGreet(name);
        ::close(lockFd);
        if (fd >= 0)
            return fd;
    }
    return -1;
}

struct Connection {
    int fd { -1 };
    std::string key;
    uint64_t generation { 0 };

    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        key.clear();
    }
};

// The process's anchor keeps its handle table alive while threads come and
// go; each thread then talks on a connection of its own.
constinit std::mutex g_anchorMutex;
constinit Connection g_anchor;
constinit uint64_t g_generation = 1;

// Set when the thread's connection has been destroyed at thread or program
// exit: a handle closed later (by a static object's destructor) must not
// touch it. A plain bool has no destructor, so it outlives the connection.
thread_local bool t_connectionGone = false;

struct ThreadConnection : Connection {
    ~ThreadConnection()
    {
        reset();
        t_connectionGone = true;
    }
};
thread_local ThreadConnection t_connection;

void forgetAfterFork()
{
    // The child shares its parent's sockets; they are the parent's, not ours.
    if (g_anchor.fd >= 0)
        ::close(g_anchor.fd);
    g_anchor.fd = -1;
    g_anchor.key.clear();
    ++g_generation;
    if (t_connection.fd >= 0)
        ::close(t_connection.fd);
    t_connection.fd = -1;
    t_connection.key.clear();
}

int threadConnection(bool mayConnect)
{
    if (t_connectionGone)
        return -1;
    static std::once_flag forkHandler;
    std::call_once(forkHandler, [] { pthread_atfork(nullptr, nullptr, forgetAfterFork); });

    std::string key = machineKey();
    uint64_t generation;
    {
        std::lock_guard lock(g_anchorMutex);
        if (g_anchor.fd < 0 || g_anchor.key != key) {
            if (!mayConnect)
                return -1;
            g_anchor.reset();
            ++g_generation;
            g_anchor.fd = openConnection(key);
            if (g_anchor.fd < 0)
                return -1;
            g_anchor.key = key;
        }
        generation = g_generation;
    }
    if (t_connection.fd >= 0 && t_connection.key == key && t_connection.generation == generation)
        return t_connection.fd;
    if (!mayConnect)
        return -1;
    t_connection.reset();
    t_connection.fd = openConnection(key);
    if (t_connection.fd < 0)
        return -1;
    t_connection.key = key;
    t_connection.generation = generation;
    return t_connection.fd;
}

Result<std::string> send(const wire::Writer& message, bool mayConnect)
{
    int fd = threadConnection(mayConnect);
    if (fd < 0)
        return mayConnect ? Error::ServiceNotActive : Error::InvalidHandle;
    std::string reply;
    if (!exchange(fd, message, reply)) {
        t_connection.reset();
        return Error::ServiceNotActive;
    }
    wire::Reader reader(reply);
    uint32_t status = reader.u32();
    if (!reader.ok())
        return Error::InvalidData;
    if (status != 0)
        return fromCode(status);
    return reply.substr(4);
}

} // namespace

Result<std::string> request(const wire::Writer& message)
{
    return send(message, true);
}
Result<std::string> requestIfConnected(const wire::Writer& message)
{
    return send(message, false);
}

Result<int> openQueueConnection(int32_t threadId)
{
    // The anchor first, so the process's handle table outlives this thread.
    if (threadConnection(true) < 0)
        return Error::ServiceNotActive;
    int fd = openConnection(machineKey());
    if (fd < 0)
        return Error::ServiceNotActive;
    wire::Writer attach;
    attach.u32(static_cast<uint32_t>(wire::Operation::AttachQueue));
    attach.i32(threadId);
    std::string reply;
    if (!exchange(fd, attach, reply) || reply.size() < 4 || wire::Reader(reply).u32() != 0) {
        ::close(fd);
        return Error::ServiceNotActive;
    }
    return fd;
}

Result<uint64_t> reserveShare(const std::string& identity, uint32_t access, uint32_t share)
{
    wire::Writer message;
    message.u32(static_cast<uint32_t>(wire::Operation::ReserveShare));
    message.text(identity);
    message.u32(access);
    message.u32(share);
    TRY_RESULT(reply, request(message));
    wire::Reader reader(reply);
    uint64_t token = reader.u64();
    if (!reader.ok())
        return Error::InvalidData;
    return token;
}

void releaseShare(uint64_t token)
{
    if (token == 0)
        return;
    wire::Writer message;
    message.u32(static_cast<uint32_t>(wire::Operation::ReleaseShare));
    message.u64(token);
    (void)requestIfConnected(message);
}

Status checkDelete(const std::string& identity)
{
    wire::Writer message;
    message.u32(static_cast<uint32_t>(wire::Operation::CheckDelete));
    message.text(identity);
    auto reply = request(message);
    if (!reply)
        return reply.error();
    return {};
}

namespace {

Status rangeRequest(wire::Operation operation, uint64_t token, uint64_t offset, uint64_t length)
{
    wire::Writer message;
    message.u32(static_cast<uint32_t>(operation));
    message.u64(token);
    message.u64(offset);
    message.u64(length);
    auto reply = request(message);
    if (!reply)
        return reply.error();
    return {};
}

} // namespace

Status lockRange(uint64_t token, uint64_t offset, uint64_t length)
{
    return rangeRequest(wire::Operation::LockRange, token, offset, length);
}

Status unlockRange(uint64_t token, uint64_t offset, uint64_t length)
{
    return rangeRequest(wire::Operation::UnlockRange, token, offset, length);
}

} // namespace platform::objects
