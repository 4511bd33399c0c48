// What the platform backends of the jobs report to the portable rules: the outcome of one call
// into the operating system, and a reading of a job's exit code. Private to the library.
//
// Native errors are classified in one place per platform (lastNativeFailure): an invalid handle
// (ERROR_INVALID_HANDLE, EBADF) means "no such job", every other error is just a failure.
// NoMemory is for what a backend could not allocate itself.
#pragma once

#include <cstdint>
#include <string>

namespace Kalvor {

struct NativeResult {
    enum class Kind { Done, InvalidHandle, NoMemory, Failed };
    Kind kind = Kind::Done;
    int32_t error = 0; // the platform's error number unless Done

    bool done() const { return kind == Kind::Done; }
};

// The calling thread's last system error, classified.
NativeResult lastNativeFailure();
NativeResult nativeFailure(int32_t error);

// How detail texts name a system error number: "Win32 error code is : " on win32.
const char* nativeErrorLabel();
// The label, the number and the platform's text for it: "System error code is : 2 (No such
// file or directory)".
std::string nativeErrorDetail(int32_t error);

struct ExitReading {
    NativeResult result; // Done: `code` holds the exit code, kStillActive while the job runs
    int32_t code = 0;
    bool ended = false; // with a failed result: the job has ended, but its code is lost
};

} // namespace Kalvor
