// The exception family every library unit throws on failure.
//
// An exception carries a code (a row of its class's code table), an optional detail text and a
// trail of source locations that grows as handlers catch it, add their own location and throw
// it on. report() is the multi-line text that callers log. Thrown by value, caught by reference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The throw site's own location, for the constructor and addLocation().
#define KALVOR_HERE __FILE__, __LINE__

namespace Kalvor {

// Line break of reports and log files.
inline constexpr const char* kLineBreak = "\r\n";

struct SourceLocation {
    std::string name; // derived source name, e.g. "ConfReader." for ".../ConfReader.cpp"
    int32_t line = 0;
};

// One row of a class's code table; the row's index is the code number.
struct ErrorCodeRow {
    const char* symbol;
    const char* text;
};

class Exception {
public:
    explicit Exception(int32_t code);
    // Detail without a location, for errors translated away from any throw site.
    Exception(int32_t code, std::string detail);
    Exception(int32_t code, std::string detail, const char* sourcePath, int32_t line);
    virtual ~Exception() = default;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    virtual std::string describe() const;
    virtual int32_t classId() const;

    void addLocation(const char* sourcePath, int32_t line);
    std::string detail() const { return detail_; }
    int32_t code() const { return code_; }
    const std::vector<SourceLocation>& trail() const { return trail_; }
    std::string report() const;
    // One line for an operator's terminal: what failed and the detail, without the source
    // locations, which mean something only in a log read by this code's developers.
    std::string summary() const;

    // "ConfReader." from ".../ConfReader.cpp": the base name with its extension cut, dot kept.
    static std::string sourceName(const std::string& sourcePath);

protected:
    // "<category>: <text or Unknown error> (Code: <classId>.<code>)".
    std::string describeWith(const char* category, const ErrorCodeRow* table,
                             int32_t rowCount) const;

private:
    int32_t code_;
    std::string detail_;
    std::vector<SourceLocation> trail_;
};

#define KALVOR_DECLARE_EXCEPTION(Name)                                                             \
    class Name : public Exception {                                                                \
    public:                                                                                        \
        using Exception::Exception;                                                                \
        std::string describe() const override;                                                     \
        int32_t classId() const override;                                                          \
    }

KALVOR_DECLARE_EXCEPTION(ConfigException);
KALVOR_DECLARE_EXCEPTION(FileException);
KALVOR_DECLARE_EXCEPTION(IPCException);
KALVOR_DECLARE_EXCEPTION(JobException);
KALVOR_DECLARE_EXCEPTION(TimeException);

#undef KALVOR_DECLARE_EXCEPTION

// Code constants of the throw sites; each number is the row of its class's table.
enum ConfigErrorCode : int32_t { CF_MEM = 0, CF_CONF, CF_CANNOT_UNCOMPRESS };

enum FileErrorCode : int32_t {
    FL_NONE = 0,
    FL_MEM,
    FL_EXISTS_NOT,
    FL_EXISTS,
    FL_IS_OPEN,
    FL_CANNOT_OPEN,
    FL_IS_CLOSED,
    FL_CANNOT_CLOSE,
    FL_ACCESS_COMB,
    FL_CANNOT_READ,
    FL_READ,
    FL_CANNOT_WRITE,
    FL_WRITE,
    FL_FLUSH,
    FL_EOF,
    FL_POSITION,
    FL_CANNOT_UNLOCK,
    FL_CANNOT_LOCK,
    FL_IS_LOCKED,
    FL_CANNOT_COPY,
    FL_RENAME,
    FL_REMOVE,
    FL_CREATE_DIR,
    FL_GET_DIR,
    FL_NO_DIR,
    FL_SPACE,
    FL_ACCESS,
    FL_ERROR
};

enum IPCErrorCode : int32_t {
    IC_NONE = 0,
    IC_NO_MESSAGE_FILE,
    IC_CANNOT_CREATE_COMM,
    IC_NOT_SENDER,
    IC_NOT_RECEIVER,
    IC_CANNOT_SEND,
    IC_CANNOT_RECEIVE,
    IC_MEM
};

enum JobErrorCode : int32_t {
    JB_NONE = 0,
    JB_NEVER_STARTED,
    JB_UNABLE_TO_START,
    JB_UNABLE_TO_TERMINATE,
    JB_STILL_RUNNING,
    JB_UNKNOWN_ERROR,
    JB_MEM,
    JB_PROCESS,
    JB_THREAD
};

enum TimeErrorCode : int32_t {
    TM_NONE = 0,
    TM_DAYS,
    TM_HOURS,
    TM_MINUTES,
    TM_SECONDS,
    TM_YEAR,
    TM_MONTH,
    TM_DAY,
    TM_DATETIME,
    TM_ANCIENT,
    TM_INPUT
};

} // namespace Kalvor
