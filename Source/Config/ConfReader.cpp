#include "Config/ConfReader.h"

#include "Common/Exception.h"
#include "Config/ConfNode.h"
#include "Config/ConfParser.h"
#include "File/FilePlain.h"
#include "Logger/LogCommons.h"
#include "Logger/LoggerUnit.h"

namespace Kalvor {

namespace {

// Catalog messages of the Configuration module.
constexpr int32_t kUnreadableFileMessage = 1;
constexpr int32_t kSyntaxErrorMessage = 2;
constexpr int32_t kBuildRefusedMessage = 15;

class HeldLock {
public:
    explicit HeldLock(Monopoly& lock) : lock_(lock) {}
    ~HeldLock() { lock_.release(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    Monopoly& lock_;
};

std::string readWholeFile(const std::string& fileName) {
    FilePlain file(fileName);
    file.open(FileBase::kRead);
    std::string text = file.readAll();
    file.close();
    return text;
}

} // namespace

ConfReader::ConfReader(std::shared_ptr<const LoggerUnit> logger)
    : logger_(logger
                  ? std::move(logger)
                  : std::make_shared<const LoggerUnit>(nullptr, LogCommons::kConfigurationModule)) {
    logger_->debug(1, "ConfReader: Created.");
}

ConfReader::~ConfReader() {
    root_.reset();
    logger_->debug(1, "ConfReader: Destroyed.");
}

std::string ConfReader::buildDOM(const std::string& fileName) {
    logger_->debug(2, "ConfReader: Building DOM tree from file \"%s\"...",
                   LogParams().add(fileName));
    if (!buildLock_.acquire()) {
        logger_->error(kBuildRefusedMessage);
        return fileName + ": another reading is under way";
    }
    HeldLock held(buildLock_);
    try {
        const std::string text = readWholeFile(fileName);
        return parseText(fileName, text);
    } catch (const FileException& error) {
        logger_->error(kUnreadableFileMessage, LogParams().add(fileName).add(error.describe()));
        logger_->debug(1, "ConfReader: %s", LogParams().add(error.report()));
        return fileName + ": " + error.describe();
    } catch (...) {
        logger_->debug(1, "ConfReader: Unknown error while building DOM tree from file \"%s\".",
                       LogParams().add(fileName));
        return fileName + ": unknown error";
    }
}

// Built aside, so that a file that does not parse leaves the tree that was there.
std::string ConfReader::parseText(const std::string& fileName, const std::string& text) {
    auto root = std::make_unique<ConfNode>("Root");
    ConfParser parser(text);
    try {
        parser.parse(*root);
    } catch (const ConfigException& error) {
        if (!error.detail().empty())
            logger_->debug(1, "ConfReader: " + error.detail());
        logger_->error(kSyntaxErrorMessage, LogParams().add(fileName).add(error.describe()));
        logger_->debug(1, "ConfReader: %s, line %i.",
                       LogParams().add(error.describe()).add(parser.line()));
        if (!root_)
            root_ = std::move(root);
        return fileName + ", line " + std::to_string(parser.line()) + ": " +
               (error.detail().empty() ? error.describe() : error.detail());
    }
    root_ = std::move(root);
    logger_->debug(2, "ConfReader: DOM tree built.");
    return "";
}

const ConfNode* ConfReader::findNode(const std::string& key) const {
    return root_ ? root_->find(key) : nullptr;
}

int32_t ConfReader::getSubObjects(const std::string& key, std::vector<std::string>& names) const {
    logger_->debug(5, "ConfReader: Getting sub-objects of \"%s\".", LogParams().add(key));
    const ConfNode* node = findNode(key);
    if (node == nullptr) {
        logger_->debug(5, "ConfReader: None found.");
        return CONF_MISSING;
    }
    for (std::size_t i = 0; i < node->childCount(); ++i)
        names.push_back(node->child(i).name());
    logger_->debug(5, "ConfReader: Found %i sub-objects.", LogParams().add(names.size()));
    return CONF_FOUND;
}

} // namespace Kalvor
