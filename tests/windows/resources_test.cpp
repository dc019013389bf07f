// The Windows resources as the program carries them: the version block and the manifest name the
// project's version, and the icon, logo and About entry the window loads are there.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

#include "res/resource.h"

namespace {

std::string ownVersionBlock() {
    std::array<char, MAX_PATH> path{};
    GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    const DWORD size = GetFileVersionInfoSizeA(path.data(), nullptr);
    std::string block(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(path.data(), 0, size, block.data())) {
        block.clear();
    }
    return block;
}

std::string versionString(std::string& block, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904e4\\") + name;
    if (!VerQueryValueA(block.data(), key.c_str(), &value, &length) || length == 0) {
        return {};
    }
    return static_cast<const char*>(value);
}

std::string_view resourceText(LPCSTR name, LPCSTR type) {
    HRSRC found = FindResourceA(nullptr, name, type);
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    if (loaded == nullptr) {
        return {};
    }
    return {static_cast<const char*>(LockResource(loaded)), SizeofResource(nullptr, found)};
}

TEST(WindowsResourcesTest, VersionBlockAndManifestCarryTheProjectVersion) {
    std::string block = ownVersionBlock();
    ASSERT_FALSE(block.empty());

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    const std::string numbers = std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." +
                                std::to_string(LOWORD(fixed.dwFileVersionLS));
    EXPECT_EQ(numbers, PZ4_VERSION);
    EXPECT_EQ(fixed.dwProductVersionMS, fixed.dwFileVersionMS);
    EXPECT_EQ(fixed.dwProductVersionLS, fixed.dwFileVersionLS);
    EXPECT_EQ(versionString(block, "FileVersion"), PZ4_VERSION);
    EXPECT_EQ(versionString(block, "ProductVersion"), PZ4_VERSION);
    EXPECT_EQ(versionString(block, "FileDescription"), "PZ4_ReadOut");

    // Windows reads a program's manifest from this id only.
    const std::string_view manifest = resourceText(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    EXPECT_NE(manifest.find(R"(name="Quorvin.PZ4_ReadOut" version=")" PZ4_VERSION "\""),
              std::string_view::npos)
        << manifest;
    EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string_view::npos);
}

TEST(WindowsResourcesTest, IconLogoAndAboutEntryArePresent) {
    EXPECT_FALSE(resourceText(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON).empty());
    EXPECT_FALSE(
        resourceText(MAKEINTRESOURCEA(IDB_LOGO), MAKEINTRESOURCEA(2)).empty());  // RT_BITMAP
    std::array<char, 64> about{};
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about.data(), about.size());
    EXPECT_STREQ(about.data(), "&About PZ4_ReadOut...");
}

}  // namespace
