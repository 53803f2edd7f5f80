#pragma once

// The request channel to the machine's object manager, for sync.cpp and
// objects_client.cpp only.

#include "platform/objects_protocol_p.h"
#include "platform/result.h"

#include <string>

namespace platform::objects {

// Sends one request on the calling thread's connection (connecting, and
// starting the manager, when needed) and returns the reply's fields after its
// status. A nonzero status comes back as that error.
Result<std::string> request(const wire::Writer& message);

// Like request(), but never connects: used by handle closes, which have
// nothing to do when this thread never reached the manager.
Result<std::string> requestIfConnected(const wire::Writer& message);

// Opens a further connection of this process and makes it the message queue
// of thread `threadId` (AttachQueue): the manager pushes that thread's
// messages on it. The caller owns and closes the descriptor. 1062 when the
// manager cannot be reached.
Result<int> openQueueConnection(int32_t threadId);

} // namespace platform::objects
