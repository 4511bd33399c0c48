#include "Logger/LogCommons.h"

#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace Kalvor {
namespace {

using Strings = std::vector<std::string>;

Strings sorted(Strings names) {
    std::sort(names.begin(), names.end());
    return names;
}

class CatalogLoaderTest : public testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(catalogs); }

    void catalogFile(const std::string& name, const std::string& text) {
        Kalvor::Test::writeFile(sandbox.file("LogMessages/" + name), text);
    }

    Kalvor::Test::LoggerSandbox sandbox;
    const std::string catalogs = sandbox.file("LogMessages");
    MessageCatalog catalog;
};

TEST_F(CatalogLoaderTest, AllAcceptsEveryKnownModuleAndRejectsUnknownKeys) {
    catalogFile("wardex.mess", "// comment\r\n1: Started.\r\n7: \"%s\" stopped.\r\n");
    catalogFile("log.mess", "1: logger one\n");
    catalogFile("frobnicate.mess", "1: nobody's\n");
    catalogFile("notes.txt", "1: not a catalog\n");
    std::filesystem::create_directory(sandbox.file("LogMessages/core.mess")); // a folder
    const CatalogLoadReport report = loadCatalogs(catalog, sandbox.path(), "all");
    EXPECT_TRUE(report.success);
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(sorted(report.accepted), (Strings{"log", "wardex"}));
    ASSERT_EQ(report.counts.size(), 2u);
    for (std::size_t i = 0; i < report.accepted.size(); ++i)
        EXPECT_EQ(report.counts[i], report.accepted[i] == "wardex" ? 2 : 1);
    EXPECT_EQ(report.rejected, Strings{"frobnicate"});
    EXPECT_EQ(report.rejectionReasons, Strings{""});
    EXPECT_EQ(catalog.find(23, 7), "\"%s\" stopped.");
    EXPECT_EQ(catalog.find(2, 1), "logger one");
    EXPECT_FALSE(catalog.find(0, 1));
}

TEST_F(CatalogLoaderTest, SelectionIsBySubstringOfTheKey) {
    catalogFile("wardex.mess", "1: w\n");
    catalogFile("configuration.mess", "1: c\n");
    catalogFile("core.mess", "1: core\n");
    catalogFile("ipc.mess", "1: ipc\n");
    // The supervisor's own selection names its module twice; "core" is not in it.
    const CatalogLoadReport report =
        loadCatalogs(catalog, sandbox.path() + "/", "wardex,configuration,wardex");
    EXPECT_TRUE(report.success);
    EXPECT_EQ(sorted(report.accepted), (Strings{"configuration", "wardex"}));
    EXPECT_EQ(sorted(report.rejected), (Strings{"core", "ipc"}));
    EXPECT_FALSE(catalog.find(0, 1));
}

TEST_F(CatalogLoaderTest, UnreadableFileIsRejectedWithTheFileLayersReport) {
    catalogFile("configuration.mess", "1: c\n");
    const Kalvor::Test::UnreadableFile unreadable(sandbox.file("LogMessages/wardex.mess"));
    const CatalogLoadReport report = loadCatalogs(catalog, sandbox.path(), "all");
    EXPECT_TRUE(report.success);
    EXPECT_EQ(report.accepted, Strings{"configuration"});
    ASSERT_EQ(report.rejected, Strings{"wardex"});
    EXPECT_NE(report.rejectionReasons[0].find("wardex.mess"), std::string::npos)
        << report.rejectionReasons[0];
    EXPECT_EQ(catalog.find(1, 1), "c");
}

TEST_F(CatalogLoaderTest, MissingFolderLoadsNothingAndSucceeds) {
    const CatalogLoadReport report = loadCatalogs(catalog, sandbox.file("nowhere"), "all");
    EXPECT_TRUE(report.success);
    EXPECT_TRUE(report.accepted.empty());
    EXPECT_TRUE(report.rejected.empty());
    EXPECT_EQ(catalog.size(), 0u);
}

// An empty base is the current directory, never the root's "/LogMessages".
TEST_F(CatalogLoaderTest, EmptyBaseDirectoryIsTheCurrentOne) {
    catalogFile("wardex.mess", "1: here\n");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(sandbox.path());
    const CatalogLoadReport report = loadCatalogs(catalog, "", "all");
    std::filesystem::current_path(before);
    EXPECT_EQ(report.accepted, Strings{"wardex"});
    EXPECT_EQ(catalog.find(23, 1), "here");
}

// The catalogs the build ships, copied beside the test program.
std::string shippedCatalogBase() {
    const std::string self = Kalvor::Test::currentExecutablePath();
    return self.substr(0, self.find_last_of("\\/") + 1);
}

// The "%" placeholders of a text, in order ("%%" is none).
Strings placeholders(const std::string& text) {
    Strings found;
    for (std::size_t at = 0; at + 1 < text.size(); ++at) {
        if (text[at] != '%')
            continue;
        if (text[at + 1] != '%')
            found.push_back(text.substr(at, 2));
        ++at;
    }
    return found;
}

TEST(ShippedCatalogTest, EveryMessageTheProgramUsesIsThereWithItsPlaceholders) {
    MessageCatalog catalog;
    const CatalogLoadReport report = loadCatalogs(catalog, shippedCatalogBase(), "all");
    ASSERT_TRUE(report.success);
    EXPECT_EQ(sorted(report.accepted),
              (Strings{"configuration", "core", "ipc", "logger", "wardex"}));
    EXPECT_TRUE(report.rejected.empty());

    using LogCommons::kConfigurationModule;
    using LogCommons::kWardexModule;
    const struct {
        int32_t module;
        int32_t message;
        Strings placeholders; // one per parameter the callers pass, in their order
    } uses[] = {
        {kWardexModule, 1, {}},                  // start-up
        {kWardexModule, 2, {"%s"}},              // lock name
        {kWardexModule, 3, {"%s"}},              // configuration key
        {kWardexModule, 5, {"%s", "%s"}},        // application, reason
        {kWardexModule, 6, {"%s", "%s"}},        // application, reason or exception text
        {kWardexModule, 7, {"%s"}},              // application
        {kWardexModule, 8, {"%s"}},              // application
        {kWardexModule, 9, {"%s"}},              // "MEMORY"
        {kConfigurationModule, 1, {"%s", "%s"}}, // file, exception description
        {kConfigurationModule, 2, {"%s", "%s"}}, // file, exception description
        {kConfigurationModule, 3, {"%s"}},       // key
        {kConfigurationModule, 15, {}},
    };
    for (const auto& use : uses) {
        const auto text = catalog.find(use.module, use.message);
        ASSERT_TRUE(text) << use.module << "." << use.message;
        EXPECT_EQ(placeholders(*text), use.placeholders) << *text;
    }
}

} // namespace
} // namespace Kalvor
