// The message queues of this process's threads: retrieving posted messages,
// handling messages sent by other threads, and the quit message.

#include "platform/machine.h"
#include "platform/objects_client_p.h"
#include "platform/windows_p.h"

#include <cerrno>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::windows {

namespace {

using detail::SentMessage;
using detail::ThreadQueue;

// Every thread queue of the process, so that a sender finds its target's.
// Leaked on purpose: threads may still end while the process exits.
std::mutex& registryMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::map<int32_t, std::shared_ptr<ThreadQueue>>& registry()
{
    static auto* queues = new std::map<int32_t, std::shared_ptr<ThreadQueue>>;
    return *queues;
}

// The calling thread's side of its queue: the pushed bytes not yet parsed,
// the posted messages not yet retrieved and the pending quit.
struct ThreadState {
    std::shared_ptr<ThreadQueue> queue;
    std::string input;
    std::deque<Message> posted;
    std::optional<int32_t> quitCode;
    std::string machineRoot;

    ~ThreadState() { end(); }

    void end()
    {
        if (!queue)
            return;
        {
            std::lock_guard lock(registryMutex());
            registry().erase(queue->threadId);
        }
        {
            // A thread that ends answers nobody: release the senders.
            std::lock_guard lock(queue->mutex);
            queue->ended = true;
            for (auto& sent : queue->sent)
                sent->state = SentMessage::State::Abandoned;
            queue->sent.clear();
        }
        queue->answered.notify_all();
        // Closing the queue's connection destroys the thread's windows in the
        // object manager and drops the messages still on their way.
        ::close(queue->fd);
        detail::removeThreadWindows(queue->threadId);
        queue.reset();
        input.clear();
        posted.clear();
        quitCode.reset();
    }
};
thread_local ThreadState t_state;

void parseFrames(ThreadState& state)
{
    using namespace objects::wire;
    size_t offset = 0;
    while (state.input.size() - offset >= 4) {
        uint32_t size = 0;
        std::memcpy(&size, state.input.data() + offset, 4);
        if (state.input.size() - offset - 4 < size)
            break;
        Reader reader(std::string_view(state.input).substr(offset + 4, size));
        offset += 4 + size;
        auto kind = static_cast<PushKind>(reader.u32());
        Message message;
        message.window = WindowHandle(reader.u32());
        message.message = reader.u32();
        message.wParam = static_cast<uintptr_t>(reader.u64());
        message.lParam = static_cast<intptr_t>(reader.u64());
        // A wake-up carries nothing: the sent messages wait in the process.
        if (reader.ok() && kind == PushKind::Posted)
            state.posted.push_back(message);
    }
    state.input.erase(0, offset);
}

enum class Block { No, Yes };

// Reads what the queue's connection holds; with Block::Yes waits for at
// least some bytes first. False when the connection has broken.
bool receive(ThreadState& state, Block block)
{
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(state.queue->fd, buffer, sizeof buffer, block == Block::Yes ? 0 : MSG_DONTWAIT);
        if (n > 0) {
            state.input.append(buffer, static_cast<size_t>(n));
            parseFrames(state);
            if (block == Block::Yes)
                return true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
}

void handleSentMessages(ThreadQueue& queue)
{
    for (;;) {
        std::shared_ptr<SentMessage> sent;
        {
            std::lock_guard lock(queue.mutex);
            if (queue.sent.empty())
                return;
            sent = std::move(queue.sent.front());
            queue.sent.pop_front();
        }
        intptr_t result = dispatchMessage(sent->message);
        {
            std::lock_guard lock(queue.mutex);
            sent->result = result;
            sent->state = SentMessage::State::Answered;
        }
        queue.answered.notify_all();
    }
}

Message quitMessage(int32_t code)
{
    Message message;
    message.message = WM_QUIT;
    message.wParam = static_cast<uintptr_t>(static_cast<intptr_t>(code));
    return message;
}

} // namespace

namespace detail {

int32_t currentThreadId()
{
    return static_cast<int32_t>(::gettid());
}

Result<std::shared_ptr<ThreadQueue>> currentQueue()
{
    std::string machineRoot = machine::root().string();
    if (t_state.queue && t_state.machineRoot == machineRoot)
        return t_state.queue;
    // A thread that moves to another machine (tests do) leaves its windows
    // and messages on the old one.
    t_state.end();
    auto queue = std::make_shared<ThreadQueue>();
    queue->threadId = currentThreadId();
    TRY_RESULT(fd, objects::openQueueConnection(queue->threadId));
    queue->fd = fd;
    {
        std::lock_guard lock(registryMutex());
        registry()[queue->threadId] = queue;
    }
    t_state.queue = queue;
    t_state.machineRoot = machineRoot;
    return queue;
}

bool postToOwnQueue(const Message& message)
{
    if (!t_state.queue || t_state.machineRoot != machine::root().string())
        return false;
    t_state.posted.push_back(message);
    return true;
}

Result<intptr_t> sendToThread(int32_t threadId, const Message& message)
{
    std::shared_ptr<ThreadQueue> target;
    {
        std::lock_guard lock(registryMutex());
        auto found = registry().find(threadId);
        if (found != registry().end())
            target = found->second;
    }
    if (!target)
        return Error::InvalidWindowHandle;
    auto sent = std::make_shared<SentMessage>();
    sent->message = message;
    {
        std::lock_guard lock(target->mutex);
        if (target->ended)
            return Error::InvalidWindowHandle;
        target->sent.push_back(sent);
    }
    // The owner may be asleep in getMessage: the object manager wakes it
    // through its queue's connection, after the message is in place.
    objects::wire::Writer wake;
    wake.u32(static_cast<uint32_t>(objects::wire::Operation::WakeQueue));
    wake.u32(static_cast<uint32_t>(message.window.value()));
    auto woken = objects::request(wake);

    std::unique_lock lock(target->mutex);
    if (!woken) {
        // The window went away meanwhile; unless its thread has taken the
        // message already, nobody will.
        auto queued = std::find(target->sent.begin(), target->sent.end(), sent);
        if (queued != target->sent.end()) {
            target->sent.erase(queued);
            return Error::InvalidWindowHandle;
        }
    }
    // NOTE: the sender does not handle messages sent to its own windows while
    // it waits; two threads sending to each other at once would deadlock.
    target->answered.wait(lock, [&] { return sent->state != SentMessage::State::Pending; });
    if (sent->state == SentMessage::State::Abandoned)
        return Error::InvalidWindowHandle;
    return sent->result;
}

} // namespace detail

Result<bool> getMessage(Message& message)
{
    TRY_RESULT(queue, detail::currentQueue());
    ThreadState& state = t_state;
    for (;;) {
        handleSentMessages(*queue);
        if (!receive(state, Block::No))
            return Error::ServiceNotActive;
        if (!state.posted.empty()) {
            message = state.posted.front();
            state.posted.pop_front();
            return message.message != WM_QUIT;
        }
        if (state.quitCode) {
            message = quitMessage(*state.quitCode);
            state.quitCode.reset();
            return false;
        }
        // Sent messages that arrive from here on come with a wake-up, so
        // nothing is missed by going to sleep now.
        if (!receive(state, Block::Yes))
            return Error::ServiceNotActive;
    }
}

Result<bool> peekMessage(Message& message, PeekMode mode)
{
    TRY_RESULT(queue, detail::currentQueue());
    ThreadState& state = t_state;
    handleSentMessages(*queue);
    if (!receive(state, Block::No))
        return Error::ServiceNotActive;
    if (!state.posted.empty()) {
        message = state.posted.front();
        if (mode == PeekMode::Remove)
            state.posted.pop_front();
        return true;
    }
    if (state.quitCode) {
        message = quitMessage(*state.quitCode);
        if (mode == PeekMode::Remove)
            state.quitCode.reset();
        return true;
    }
    return false;
}

void translateMessage(const Message&) { }

intptr_t dispatchMessage(const Message& message)
{
    auto local = detail::localWindow(message.window);
    if (!local || !local->procedure)
        return 0;
    return local->procedure(message.window, message.message, message.wParam, message.lParam);
}

void postQuitMessage(int32_t exitCode)
{
    // The calling thread is not waiting (it is running this), so no wake-up
    // is needed: its next getMessage sees the flag.
    t_state.quitCode = exitCode;
}

Result<int> messageQueueDescriptor()
{
    TRY_RESULT(queue, detail::currentQueue());
    return queue->fd;
}

} // namespace platform::windows
