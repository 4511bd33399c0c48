// Each installed program's version resource and manifest, read through the calls that Explorer's
// properties page and the loader use, so that a template or CMake value gone wrong shows here.
#include "Common/win32/Windows.h"
#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace Kalvor::Test {
namespace {

struct Program {
    const char* name;
    const char* description;
};

const Program kPrograms[] = {
    {"wardex", "Wardex, supervisor of the Kalvor suite applications"},
    {"wardexctl", "Wardex control: status and daily commands"},
    {"kalvor-ipc", "Kalvor mailslot sender and listener"},
};

const char kWindows10[] = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}";

// The version resource as GetFileVersionInfoA copies it; empty when the program has none.
class VersionInfo {
public:
    explicit VersionInfo(const std::string& program) {
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeA(program.c_str(), &ignored);
        data_.resize(size);
        if (size == 0 || !::GetFileVersionInfoA(program.c_str(), 0, size, data_.data()))
            data_.clear();
    }
    bool empty() const { return data_.empty(); }

    const VS_FIXEDFILEINFO* fixed() {
        void* value = nullptr;
        UINT length = 0;
        return ::VerQueryValueA(data_.data(), "\\", &value, &length) &&
                       length >= sizeof(VS_FIXEDFILEINFO)
                   ? static_cast<const VS_FIXEDFILEINFO*>(value)
                   : nullptr;
    }
    // A value of the U.S. English, Unicode string table; "<missing>" when it has none.
    std::string text(const std::string& name) {
        void* value = nullptr;
        UINT length = 0;
        const std::string path = "\\StringFileInfo\\040904B0\\" + name;
        if (!::VerQueryValueA(data_.data(), path.c_str(), &value, &length))
            return "<missing>";
        const char* chars = static_cast<const char*>(value);
        return std::string(chars, strnlen(chars, length));
    }

private:
    std::vector<char> data_;
};

struct ModuleFree {
    void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

// The manifest's bytes as stored; "" when the program has none.
std::string manifestText(const std::string& program) {
    const Module module(::LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    const HRSRC found =
        module ? ::FindResourceA(module.get(), MAKEINTRESOURCEA(1), RT_MANIFEST) : nullptr;
    const HGLOBAL loaded = found ? ::LoadResource(module.get(), found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    return bytes
               ? std::string(static_cast<const char*>(bytes), ::SizeofResource(module.get(), found))
               : std::string();
}

// The activation context the loader builds from the program's manifest: made only from one it
// can parse.
class ActivationContext {
public:
    explicit ActivationContext(const std::string& program) {
        ACTCTXA request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.lpSource = program.c_str();
        request.lpResourceName = MAKEINTRESOURCEA(1);
        handle_ = ::CreateActCtxA(&request);
    }
    ~ActivationContext() {
        if (valid())
            ::ReleaseActCtx(handle_);
    }
    ActivationContext(const ActivationContext&) = delete;
    ActivationContext& operator=(const ActivationContext&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

void PrintTo(const Program& program, std::ostream* out) {
    *out << program.name;
}

class InstalledProgram : public ::testing::TestWithParam<Program> {
protected:
    std::string path() const { return helperProgramPath(GetParam().name); }
};

TEST_P(InstalledProgram, VersionResourceCarriesTheProjectVersion) {
    VersionInfo info(path());
    ASSERT_FALSE(info.empty()) << path() << ": no version resource";
    const VS_FIXEDFILEINFO* fixed = info.fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1)); // 1.0
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);             // .0.0
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(info.text("ProductVersion"), "1.0.0");
    EXPECT_EQ(info.text("FileVersion"), "1.0.0");
    EXPECT_EQ(info.text("ProductName"), "Wardex");
    EXPECT_EQ(info.text("CompanyName"), "Kalvor");
    EXPECT_EQ(info.text("FileDescription"), GetParam().description);
    EXPECT_EQ(info.text("InternalName"), GetParam().name);
    EXPECT_EQ(info.text("OriginalFilename"), std::string(GetParam().name) + ".exe");
}

TEST_P(InstalledProgram, ManifestNamesTheProgramAndItsSettings) {
    const std::string manifest = manifestText(path());
    ASSERT_FALSE(manifest.empty()) << path() << ": no manifest resource 1";
    const std::string identity = "name=\"" + std::string(GetParam().name) + "\"";
    for (const std::string& expected :
         {identity, std::string("version=\"1.0.0.0\""), std::string("\"amd64\""),
          std::string("level=\"asInvoker\""), std::string("uiAccess=\"false\""),
          std::string(kWindows10), std::string("longPathAware>true<")})
        EXPECT_THAT(manifest, ::testing::HasSubstr(expected));
}

// What the loader makes of it: the whole manifest parses, the run level is read from the right
// element, and the long-path setting sits in the namespace Windows looks it up in.
TEST_P(InstalledProgram, LoaderReadsTheManifestsSettings) {
    const ActivationContext context(path());
    ASSERT_TRUE(context.valid()) << "CreateActCtxA: error " << ::GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    SIZE_T written = 0;
    ASSERT_TRUE(::QueryActCtxW(0, context.handle(), nullptr, RunlevelInformationInActivationContext,
                               &level, sizeof level, &written));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);

    wchar_t value[16] = {};
    ASSERT_TRUE(::QueryActCtxSettingsW(0, context.handle(),
                                       L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                       L"longPathAware", value, std::size(value), &written))
        << "error " << ::GetLastError();
    EXPECT_EQ(std::wstring(value), L"true");
}

INSTANTIATE_TEST_SUITE_P(WindowsResources, InstalledProgram, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<Program>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

} // namespace
} // namespace Kalvor::Test
