// Library-internal access to the posix thread message queues.
#pragma once

namespace Kalvor {

// Removes the calling thread's queue, so that posting to an ended thread fails at once.
void dropMessageQueue();

} // namespace Kalvor
