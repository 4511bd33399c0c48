#include "JobInstance/OutputPipe.h"

#include "Common/Exception.h"
#include "Common/win32/UniqueHandle.h"
#include "Common/win32/Windows.h"

#include <atomic>
#include <vector>

namespace Kalvor {

namespace {
constexpr DWORD kBufferBytes = 65536;

std::string newPipeName() {
    static std::atomic<uint32_t> made{0};
    return "\\\\.\\pipe\\Kalvor_output_" + std::to_string(::GetCurrentProcessId()) + "_" +
           std::to_string(made.fetch_add(1));
}
} // namespace

struct OutputPipe::Native {
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    UniqueHandle completed; // the overlapped read's event: the waitable
    OVERLAPPED overlapped{};
    std::vector<char> buffer = std::vector<char>(kBufferBytes);
    bool pending = false;
    bool ended = false;

    // Starts the next read unless one is under way. Every writer gone ends the pipe.
    void issue() {
        if (pending || ended)
            return;
        if (::ReadFile(readEnd.get(), buffer.data(), kBufferBytes, nullptr, &overlapped) ||
            ::GetLastError() == ERROR_IO_PENDING)
            pending = true;
        else
            ended = true;
    }

    ~Native() {
        // The system writes into the buffer until the read is cancelled for sure.
        if (pending) {
            DWORD got = 0;
            ::CancelIoEx(readEnd.get(), &overlapped);
            ::GetOverlappedResult(readEnd.get(), &overlapped, &got, TRUE);
        }
    }
};

OutputPipe::OutputPipe() : native_(std::make_unique<Native>()) {
    Native& native = *native_;
    const std::string name = newPipeName();
    // One instance, made first by us: nobody else can connect to it, or have made it before.
    native.readEnd.reset(::CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
        kBufferBytes, 0, nullptr));
    if (!native.readEnd)
        throw JobException(JB_UNKNOWN_ERROR, "CreateNamedPipeA", KALVOR_HERE);
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    native.writeEnd.reset(::CreateFileA(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
                                        &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!native.writeEnd)
        throw JobException(JB_UNKNOWN_ERROR, "CreateFileA", KALVOR_HERE);
    native.completed.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!native.completed)
        throw JobException(JB_UNKNOWN_ERROR, "CreateEventA", KALVOR_HERE);
    native.overlapped.hEvent = native.completed.get();
    native.issue();
}

OutputPipe::~OutputPipe() = default;

intptr_t OutputPipe::writeEnd() const {
    return native_->writeEnd ? reinterpret_cast<intptr_t>(native_->writeEnd.get()) : -1;
}

void OutputPipe::closeWriteEnd() {
    native_->writeEnd.reset();
}

intptr_t OutputPipe::waitable() const {
    return reinterpret_cast<intptr_t>(native_->completed.get());
}

bool OutputPipe::read(std::string& bytes, std::size_t limit) {
    Native& native = *native_;
    std::size_t taken = 0;
    while (!native.ended && taken < limit) {
        native.issue();
        if (native.ended)
            break;
        DWORD got = 0;
        if (!::GetOverlappedResult(native.readEnd.get(), &native.overlapped, &got, FALSE)) {
            if (::GetLastError() == ERROR_IO_INCOMPLETE)
                return true;
            // ERROR_BROKEN_PIPE: every writer has closed its end.
            native.pending = false;
            native.ended = true;
            break;
        }
        native.pending = false;
        bytes.append(native.buffer.data(), got);
        taken += got;
        if (got == 0) // a writer's empty write: nothing to wait for in a loop
            break;
    }
    // Armed again, so that the event tells of the next bytes.
    native.issue();
    return !native.ended;
}

} // namespace Kalvor
