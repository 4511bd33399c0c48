// The logger's vocabularies: severity names, the module table, the application table, and the
// message catalog that gives each (module, message number) pair its text.
//
// Catalog files ("<module key>.mess" in "<base>LogMessages/") hold one message a line, the
// number, a colon and the text; the text runs to the end of the line, further colons included.
// Empty lines and lines beginning with "//" are skipped, and so is a line without a colon. When
// a file holds a number twice, the later line wins. Parsing the text is kept apart from reading
// the file (parseCatalogLine, MessageCatalog::addText) so the rules hold for any source.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Kalvor {

enum Severity : int32_t {
    kNotice = 0,
    kWarning = 1,
    kError = 2,
    kCritical = 3,
    kFatal = 4,
    kSeverityNone = 5,    // "NONE" or "NOTHING": nothing is logged
    kSeverityUnknown = 6, // a name that is none of the above
};

namespace LogCommons {

// Both tables answer a key that matches no row with this number.
inline constexpr int32_t kUnknownNumber = 45;
inline constexpr int32_t kModuleCount = 39;

inline constexpr int32_t kCoreModule = 0;
inline constexpr int32_t kConfigurationModule = 1;
inline constexpr int32_t kLoggerModule = 2;
inline constexpr int32_t kIpcModule = 6;
inline constexpr int32_t kWardexModule = 23;

inline constexpr int32_t kCoreApplication = 1;
inline constexpr int32_t kWardexApplication = 2;

// "NOTICE" ... "FATAL" for 0 to 4; "" for any other number.
std::string severityName(int32_t severity);
// Exact, case-sensitive comparison; kSeverityUnknown for any other text.
int32_t severityFromName(const std::string& name);

// Display name ("Wardex"), or "<<Unknown>>" for a number without a row.
std::string moduleName(int32_t module);
// Lower-case key ("wardex"), or "" for a number without a row.
std::string moduleKey(int32_t module);
// The key is lower-cased first; "log" is accepted for the logger. kUnknownNumber when no row
// has the key.
int32_t moduleNumber(const std::string& key);

// The application table, numbered from 1 ("Core"); same rules as the module table.
std::string applicationName(int32_t application);
std::string applicationKey(int32_t application);
int32_t applicationNumber(const std::string& key);

// One catalog line: true with the number and the trimmed text for a message line, false for a
// line that stores nothing (empty, comment, no colon). The number part is read as atoi does:
// digits after an optional sign, up to the first other byte; none reads as 0.
bool parseCatalogLine(const std::string& line, int32_t& number, std::string& text);

} // namespace LogCommons

// All loaded messages of all modules.
class MessageCatalog {
public:
    void set(int32_t module, int32_t number, const std::string& text);
    // The stored text, or nullopt when the pair has no entry.
    std::optional<std::string> find(int32_t module, int32_t number) const;
    // Stores every message line of a catalog text for the module; returns the number of lines
    // stored (a number given twice counts twice).
    int32_t addText(int32_t module, const std::string& text);
    // Takes every entry of `other`, replacing entries of the same key.
    void merge(const MessageCatalog& other);
    std::size_t size() const { return messages_.size(); }

private:
    // Keyed "module.number" in plain decimal.
    std::map<std::string, std::string> messages_;
};

// The outcome of loading the catalog files.
struct CatalogLoadReport {
    bool success = false;
    std::string error; // "OUT OF MEMORY" when a file reader could not be made
    std::vector<std::string> accepted;
    std::vector<int32_t> counts; // messages loaded, parallel to `accepted`
    std::vector<std::string> rejected;
    // Parallel to `rejected`: empty when the module is unknown or not selected, else the file
    // layer's report of why its file could not be read.
    std::vector<std::string> rejectionReasons;
};

// Loads "<baseDirectory>LogMessages/*.mess" into the catalog. `selection` is "all" or a text in
// which each wanted module key occurs (for example "logger,configuration,wardex"). A file that
// cannot be read is rejected whole; the files read before it stay loaded. Never throws.
CatalogLoadReport loadCatalogs(MessageCatalog& catalog, const std::string& baseDirectory,
                               const std::string& selection);

} // namespace Kalvor
