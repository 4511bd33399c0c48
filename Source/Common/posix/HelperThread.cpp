#include "Common/posix/HelperThread.h"

#include <pthread.h>

namespace Kalvor {

AsynchronousSignalsBlocked::AsynchronousSignalsBlocked() : previous_{} {
    sigset_t blocked;
    ::sigfillset(&blocked);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT})
        ::sigdelset(&blocked, fault);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
}

AsynchronousSignalsBlocked::~AsynchronousSignalsBlocked() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace Kalvor
