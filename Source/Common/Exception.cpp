#include "Common/Exception.h"

#include <utility>

namespace Kalvor {

namespace {

const ErrorCodeRow kConfigRows[] = {
    {"CF_MEM", "Out of memory."},
    {"CF_CONF", "Error in conf file."},
    {"CF_CANNOT_UNCOMPRESS", "Unable to decompress buffer."},
};

const ErrorCodeRow kFileRows[] = {
    {"FL_NONE", "No exception!"},
    {"FL_MEM", "Insufficient memory available."},
    {"FL_EXISTS_NOT", "File does not exist."},
    {"FL_EXISTS", "File already exists."},
    {"FL_IS_OPEN", "File is open."},
    {"FL_CANNOT_OPEN", "File cannot be opened."},
    {"FL_IS_CLOSED", "File is closed."},
    {"FL_CANNOT_CLOSE", "Unable to close file."},
    {"FL_ACCESS_COMB", "Illegal combination of access flaggs."},
    {"FL_CANNOT_READ", "File is not opened for reading."},
    {"FL_READ", "Unable to read."},
    {"FL_CANNOT_WRITE", "File is not opened for writing."},
    {"FL_WRITE", "Unable to write."},
    {"FL_FLUSH", "Unable to flush buffer."},
    {"FL_EOF", "End of file."},
    {"FL_POSITION", "Illegal position."},
    {"FL_CANNOT_UNLOCK", "Unable to unlock file."},
    {"FL_CANNOT_LOCK", "Unable to lock file."},
    {"FL_IS_LOCKED", "Someone else has locked the file."},
    {"FL_CANNOT_COPY", "Unable to copy file."},
    {"FL_RENAME", "Failed to rename."},
    {"FL_REMOVE", "Failed to remove."},
    {"FL_CREATE_DIR", "Failed to create directory."},
    {"FL_GET_DIR", "Failed to get current directory."},
    {"FL_NO_DIR", "Not a directory."},
    {"FL_SPACE", "Unable to obtain free disk space."},
    {"FL_ACCESS", "Unable to access file."},
    {"FL_ERROR", "An error occured. (No changes made.)"},
};

const ErrorCodeRow kIPCRows[] = {
    {"IC_NONE", "No exception!"},
    {"IC_NO_MESSAGE_FILE", "Cannot find message file for IPC."},
    {"IC_CANNOT_CREATE_COMM", "Unable to create communication channel."},
    {"IC_NOT_SENDER", "Receiver cannot send."},
    {"IC_NOT_RECEIVER", "Sender cannot receive."},
    {"IC_CANNOT_SEND", "Unable to send message."},
    {"IC_CANNOT_RECEIVE", "Unable to receive messages."},
    {"IC_MEM", "Out of memory."},
};

const ErrorCodeRow kJobRows[] = {
    {"JB_NONE", "No exception!"},
    {"JB_NEVER_STARTED", "The job was never started. execute() missing or failed"},
    {"JB_UNABLE_TO_START", "Unable to start the job. Consult OS error code for more details."},
    {"JB_UNABLE_TO_TERMINATE",
     "Unable to terminate the job. Consult OS error code for more details."},
    {"JB_STILL_RUNNING", "The job is still running. This is not compatible with this method."},
    {"JB_UNKNOWN_ERROR", "An unknown error occured. Consult OS error code and contact developer."},
    {"JB_MEM", "Out of memory."},
    {"JB_PROCESS", "Unable to access external process."},
    {"JB_THREAD", "Unable to access thread in external process."},
};

const ErrorCodeRow kTimeRows[] = {
    {"TM_NONE", "No exception!"},
    {"TM_DAYS", "Days out of range: (0 - 24,855)."},
    {"TM_HOURS", "Hours out of range: (0-23)."},
    {"TM_MINUTES", "Minutes out of range: (0-59)."},
    {"TM_SECONDS", "Seconds out of range: (0-59)."},
    {"TM_YEAR", "Year out of range: (1970 - 2037)."},
    {"TM_MONTH", "Month out of range: (1 - 12)."},
    {"TM_DAY", "Day out of range: (1 - days of the month in question)."},
    {"TM_DATETIME", "Illegal date and/or time."},
    {"TM_ANCIENT", "Illegal date/time. Cannot have date before 01.01.1970 0:00:00!"},
    {"TM_INPUT", "Illegal input format."},
};

template <std::size_t N> constexpr int32_t rowCount(const ErrorCodeRow (&)[N]) {
    return static_cast<int32_t>(N);
}

} // namespace

Exception::Exception(int32_t code) : code_(code) {}

Exception::Exception(int32_t code, std::string detail) : code_(code), detail_(std::move(detail)) {}

Exception::Exception(int32_t code, std::string detail, const char* sourcePath, int32_t line)
    : code_(code), detail_(std::move(detail)) {
    addLocation(sourcePath, line);
}

void Exception::addLocation(const char* sourcePath, int32_t line) {
    trail_.push_back({sourceName(sourcePath ? sourcePath : ""), line});
}

std::string Exception::sourceName(const std::string& sourcePath) {
    const auto slash = sourcePath.find_last_of("\\/");
    std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot + 1);
    return name;
}

std::string Exception::describe() const { return describeWith("Exception", nullptr, 0); }

int32_t Exception::classId() const { return 44; }

std::string Exception::describeWith(const char* category, const ErrorCodeRow* table,
                                    int32_t rowCount) const {
    const bool known = table && code_ >= 0 && code_ < rowCount && table[code_].text[0] != '\0';
    std::string text = category;
    text += ": ";
    text += known ? table[code_].text : "Unknown error";
    text += " (Code: " + std::to_string(classId()) + "." + std::to_string(code_) + ")";
    return text;
}

std::string Exception::report() const {
    std::string text = describe();
    if (!detail_.empty())
        text += std::string(kLineBreak) + "  >  (" + detail_ + ")";
    if (!trail_.empty()) {
        text += std::string(kLineBreak) + "  >  ";
        for (std::size_t i = 0; i < trail_.size(); ++i) {
            if (i > 0)
                text += " - ";
            text += trail_[i].name + "(" + std::to_string(trail_[i].line) + ")";
        }
    }
    return text;
}

std::string Exception::summary() const {
    return detail_.empty() ? describe() : describe() + ": " + detail_;
}

std::string ConfigException::describe() const {
    return describeWith("Configuration", kConfigRows, rowCount(kConfigRows));
}
int32_t ConfigException::classId() const { return 1; }

std::string FileException::describe() const {
    return describeWith("File", kFileRows, rowCount(kFileRows));
}
int32_t FileException::classId() const { return 41; }

std::string IPCException::describe() const {
    return describeWith("IPC", kIPCRows, rowCount(kIPCRows));
}
int32_t IPCException::classId() const { return 4; }

std::string JobException::describe() const {
    return describeWith("Job", kJobRows, rowCount(kJobRows));
}
int32_t JobException::classId() const { return 42; }

std::string TimeException::describe() const {
    return describeWith("Time", kTimeRows, rowCount(kTimeRows));
}
int32_t TimeException::classId() const { return 4; }

} // namespace Kalvor
