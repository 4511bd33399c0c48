// Process file descriptors: a handle on a process that, unlike its pid, can never come to mean
// another process. Called through syscall(): this C library's <sys/pidfd.h> cannot be used from
// C++.
#pragma once

#include <csignal>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace Kalvor {

inline int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

inline int sendSignal(int pidfd, int signal, siginfo_t* info) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, info, 0));
}

} // namespace Kalvor
