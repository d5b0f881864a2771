// The resources of korvat.exe: the icon group the shell shows, the version
// record and the manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace
{

#pragma pack(push, 2)
struct icon_group_entry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD size;
    WORD id;
};
struct icon_group {
    WORD reserved, type, count;
    icon_group_entry entries[1];
};
#pragma pack(pop)

class Resources : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // The path as the build tree has it, UTF-8 whatever the code page:
        // the checkout may lie under a folder named in any script.
        MultiByteToWideChar(CP_UTF8, 0, KORVAT_EXE_PATH, -1, path, 4096);
        module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << KORVAT_EXE_PATH;
    }
    void TearDown() override { FreeLibrary(module); }
    std::string resource(LPCSTR type, LPCSTR name)
    {
        HRSRC found = FindResourceA(module, name, type);
        if (!found)
            return "";
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }
    HMODULE module = nullptr;
    wchar_t path[4096] = L""; // the program's, wide
};

TEST_F(Resources, OneIconGroupOfSevenImagesOfTheRightSizesAndDepths)
{
    std::string group = resource(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, MAKEINTRESOURCEA(1));
    ASSERT_GE(group.size(), 6u);
    const icon_group* header = reinterpret_cast<const icon_group*>(group.data());
    ASSERT_EQ(header->type, 1);
    ASSERT_EQ(header->count, 7);
    ASSERT_EQ(group.size(), 6u + 14u * 7u);

    std::set<std::pair<int, int>> found;
    for (int i = 0; i < header->count; ++i) {
        const icon_group_entry& entry = header->entries[i];
        const int size = entry.width ? entry.width : 256;
        found.insert({size, entry.bits});
        EXPECT_EQ(entry.height, entry.width);
        EXPECT_EQ(entry.colours, entry.bits == 4 ? 16 : 0);

        // The image itself agrees with its entry.
        std::string image = resource(MAKEINTRESOURCEA(3) /* RT_ICON */, MAKEINTRESOURCEA(entry.id));
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        const BITMAPINFOHEADER* bitmap = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(bitmap->biWidth, size);
        EXPECT_EQ(bitmap->biHeight, 2 * size);
        EXPECT_EQ(bitmap->biBitCount, entry.bits);
        EXPECT_EQ(image.size(), entry.size);
    }
    const std::set<std::pair<int, int>> expected = {{16, 8},  {32, 8},  {48, 8}, {16, 24},
                                                    {32, 24}, {48, 24}, {32, 4}};
    EXPECT_EQ(found, expected);

    // The shell can load it, at each size.
    for (int size : {16, 32, 48}) {
        HICON icon = static_cast<HICON>(
            LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        EXPECT_NE(icon, nullptr) << size;
        DestroyIcon(icon);
    }
}

TEST_F(Resources, VersionRecordNamesTheProductAndItsVersion)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, &data[0]));
    char* product = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(product, "KORVAT");
    char* version = nullptr;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&version), &length));
    EXPECT_STREQ(version, KORVAT_VERSION);
}

TEST_F(Resources, ManifestAsksForNoElevationAndTheCommonControls)
{
    std::string manifest = resource(MAKEINTRESOURCEA(24) /* RT_MANIFEST */, MAKEINTRESOURCEA(1));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("35138b9a-5d96-4fbd-8e2d-a2440225f93a"), std::string::npos); // 7
    EXPECT_NE(manifest.find("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"), std::string::npos); // 10, 11
    // Per-monitor DPI awareness, with the older form as the fallback.
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
    // Narrow calls in UTF-8, and the version the build gives.
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
    EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
    EXPECT_NE(manifest.find(std::string("version=\"") + KORVAT_VERSION + ".0\""),
              std::string::npos);
}

} // namespace
