// tavio-machined: the resident object manager of one simulated machine.
//
// Started on demand by the first program of a machine that needs a named
// object (see objects_client.cpp), it serves every program of that machine
// over an abstract Unix socket and exits when the last program has gone. It
// blocks in poll() with no time-out unless a wait with a time-out is pending,
// so an idle machine costs no CPU.

#include "platform/objectd/object_manager.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

struct Client {
    int fd { -1 };
    std::string input;
    std::string output;
};

int listenOn(const std::string& name)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (name.size() + 1 > sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string argumentValue(int argc, char** argv, std::string_view prefix)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view argument(argv[i]);
        if (argument.starts_with(prefix))
            return std::string(argument.substr(prefix.size()));
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    std::string socketName = argumentValue(argc, argv, "--socket=");
    std::string readyFdText = argumentValue(argc, argv, "--ready-fd=");
    if (socketName.empty()) {
        std::fprintf(stderr, "usage: tavio-machined --socket=NAME [--machine=FOLDER] [--ready-fd=FD]\n");
        return 2;
    }
    int readyFd = readyFdText.empty() ? -1 : std::atoi(readyFdText.c_str());
    ::signal(SIGPIPE, SIG_IGN);

    int listener = listenOn(socketName);
    if (listener < 0) {
        // Another manager already serves this machine: the starter connects to it.
        if (readyFd >= 0)
            (void)!::write(readyFd, "b", 1);
        return errno == EADDRINUSE ? 0 : 1;
    }

    // Leave the starting program at once: the resident part is reparented
    // away from it, so it never waits for us or keeps a zombie.
    pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child > 0)
        return 0;
    ::setsid();
    ::chdir("/");
    if (readyFd >= 0) {
        (void)!::write(readyFd, "r", 1);
        ::close(readyFd);
    }

    std::map<objectd::ConnectionId, Client> clients;
    objectd::ConnectionId nextId = 1;
    objectd::ObjectManager manager([&](objectd::ConnectionId id, const std::string& frame) {
        auto found = clients.find(id);
        if (found != clients.end())
            found->second.output += frame;
    });

    auto flush = [](Client& client) {
        while (!client.output.empty()) {
            ssize_t n = ::send(client.fd, client.output.data(), client.output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return errno == EAGAIN || errno == EWOULDBLOCK;
            client.output.erase(0, static_cast<size_t>(n));
        }
        return true;
    };

    bool everConnected = false;
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<objectd::ConnectionId> ids;
        fds.push_back({ listener, POLLIN, 0 });
        ids.push_back(0);
        for (auto& [id, client] : clients) {
            short events = POLLIN;
            if (!client.output.empty())
                events |= POLLOUT;
            fds.push_back({ client.fd, events, 0 });
            ids.push_back(id);
        }
        int timeout = -1;
        if (auto deadline = manager.nextDeadline()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.value() - objectd::Clock::now());
            timeout = static_cast<int>(std::max<int64_t>(0, left.count() + 1));
        } else if (!everConnected) {
            // The program that started us connects within moments; give up
            // after a while rather than linger forever if it died first.
            timeout = 10000;
        }
        int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            return 1;
        manager.expireWaits(objectd::Clock::now());

        // Read everything first and close the connections that ended before
        // serving any request: a program that has been reaped is gone for
        // whoever asks next, as its handles close before its exit is seen.
        std::vector<objectd::ConnectionId> closed;
        for (size_t i = 1; i < fds.size(); ++i) {
            Client& client = clients[ids[i]];
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            for (;;) {
                char buffer[8192];
                ssize_t n = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) {
                    client.input.append(buffer, static_cast<size_t>(n));
                    continue;
                }
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                    closed.push_back(ids[i]);
                break;
            }
        }
        for (auto id : closed) {
            ::close(clients[id].fd);
            clients.erase(id);
            manager.connectionClosed(id);
        }
        for (auto& [id, client] : clients) {
            while (client.input.size() >= 4) {
                uint32_t size = 0;
                std::memcpy(&size, client.input.data(), 4);
                if (size > platform::objects::wire::MaxFrame) {
                    // A broken peer: drop what it sent; its socket closes below.
                    client.input.clear();
                    ::shutdown(client.fd, SHUT_RDWR);
                    break;
                }
                if (client.input.size() < 4 + size)
                    break;
                std::string body = client.input.substr(4, size);
                client.input.erase(0, 4 + size);
                manager.handle(id, body);
            }
        }

        if (fds[0].revents & POLLIN) {
            for (;;) {
                int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0)
                    break;
                ucred credentials {};
                socklen_t length = sizeof credentials;
                if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
                    ::close(fd);
                    continue;
                }
                objectd::ConnectionId id = nextId++;
                clients[id].fd = fd;
                manager.connectionOpened(id, credentials.pid);
                everConnected = true;
            }
        }

        std::vector<objectd::ConnectionId> broken;
        for (auto& [id, client] : clients) {
            if (!flush(client))
                broken.push_back(id);
        }
        for (auto id : broken) {
            ::close(clients[id].fd);
            clients.erase(id);
            manager.connectionClosed(id);
        }

        if (clients.empty() && (everConnected || ready == 0)) {
            // Take any connection that arrived meanwhile before leaving; one
            // that slips in after this point sees us gone and starts anew.
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                ucred credentials {};
                socklen_t length = sizeof credentials;
                ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length);
                objectd::ConnectionId id = nextId++;
                clients[id].fd = fd;
                manager.connectionOpened(id, credentials.pid);
                continue;
            }
            ::close(listener);
            return 0;
        }
    }
}
