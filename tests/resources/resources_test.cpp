// What the executable carries besides its window: icon, version block,
// manifest, and imports of system DLLs only.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "blackbox/harness.h"
#include "resources/resource.h"

namespace {

class ExecutableResources : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = LoadLibraryExW(BuildFile(L"wirepad.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(exe_, nullptr);
    }
    void TearDown() override { FreeLibrary(exe_); }

    std::string Resource(LPCWSTR type, int id, LANGID language) const {
        HRSRC info = FindResourceExW(exe_, type, MAKEINTRESOURCEW(id), language);
        if (!info) {
            return {};
        }
        const char* data = static_cast<const char*>(LockResource(LoadResource(exe_, info)));
        return std::string(data, SizeofResource(exe_, info));
    }

    HMODULE exe_ = nullptr;
};

const LANGID kHongKong = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_HONGKONG);

#pragma pack(push, 2)
struct IconDirEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ExecutableResources, IconHasA32AndA16PixelImageIn16Colours) {
    std::string group = Resource(RT_GROUP_ICON, IDI_APP, kHongKong);
    ASSERT_GE(group.size(), 6u);
    WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(group.size(), 6u + 2 * sizeof(IconDirEntry));
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const auto* e = reinterpret_cast<const IconDirEntry*>(group.data() + 6 + i * sizeof(IconDirEntry));
        EXPECT_EQ(e->colours, 16);
        EXPECT_EQ(e->bitCount, 4);
        EXPECT_EQ(e->width, e->height);
        sizes.push_back(e->width);
        std::string image = Resource(RT_ICON, e->id, kHongKong);
        EXPECT_EQ(image.size(), e->bytes);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 32}));
}

TEST_F(ExecutableResources, ManifestAsksForVisualStylesDpiAwarenessAndNoElevation) {
    std::string manifest = Resource(RT_MANIFEST, 1, kHongKong);
    ASSERT_FALSE(manifest.empty());
    for (const char* needle : {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"", "6595b64144ccf1df",
                               "level=\"asInvoker\"", "uiAccess=\"false\"", ">true</dpiAware>",
                               "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                               "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                               "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "<description>"}) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }
}

TEST(ExecutableVersion, DescribesVersion1InChineseHongKong) {
    std::wstring path = BuildFile(L"wirepad.exe");
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0C04);
    EXPECT_EQ(translation[1], 0x04B0);
    auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        std::wstring key = std::wstring(L"\\StringFileInfo\\0c0404b0\\") + name;
        if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length) || !text) {
            return std::wstring(L"<missing>");
        }
        return std::wstring(text);
    };
    EXPECT_EQ(value(L"FileVersion"), L"1.0.0.0");
    EXPECT_EQ(value(L"ProductVersion"), L"1.0.0.0");
    EXPECT_EQ(value(L"FileDescription"), L"偵察 TCP / UDP 封包");
    for (const wchar_t* field : {L"CompanyName", L"LegalCopyright", L"OriginalFilename", L"ProductName"}) {
        EXPECT_NE(value(field), L"<missing>") << field;
    }
}

// The names of the DLLs a PE file imports, read from its import directory.
std::vector<std::wstring> ImportedDlls(const std::wstring& path) {
    std::string pe = ReadWholeFile(path);
    std::vector<std::wstring> names;
    if (pe.size() < sizeof(IMAGE_DOS_HEADER)) {
        return names;
    }
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(pe.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(pe.data() + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    auto offset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                return rva - s.VirtualAddress + s.PointerToRawData;
            }
        }
        return 0;
    };
    for (size_t at = offset(dir.VirtualAddress); at && at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= pe.size();
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pe.data() + at);
        if (d->Name == 0) {
            break;
        }
        std::wstring name;
        for (const char* c = pe.data() + offset(d->Name); *c; ++c) {
            name.push_back(static_cast<wchar_t>(std::towlower(static_cast<unsigned char>(*c))));
        }
        names.push_back(name);
    }
    return names;
}

TEST(ExecutableImports, AreSystemDllsOnlyInASmallFile) {
    // The release build stays one small file: a runtime pulled in by mistake
    // (exception handling, a C++ library) shows here first. MSVC links its C
    // runtime's start-up statically (imports stay system DLLs only), which
    // alone is several times the program.
#if defined(_MSC_VER)
    const size_t kBudget = 128u * 1024u;
#else
    const size_t kBudget = 48u * 1024u;
#endif
    EXPECT_LE(ReadWholeFile(BuildFile(L"wirepad.exe")).size(), kBudget);
    std::vector<std::wstring> dlls = ImportedDlls(BuildFile(L"wirepad.exe"));
    ASSERT_FALSE(dlls.empty());
    const std::vector<std::wstring> system = {L"kernel32.dll", L"user32.dll", L"comctl32.dll", L"ws2_32.dll",
                                              L"msvcrt.dll",   L"gdi32.dll",  L"advapi32.dll"};
    for (const std::wstring& dll : dlls) {
        bool allowed = std::find(system.begin(), system.end(), dll) != system.end() ||
                       dll.rfind(L"api-ms-win-crt-", 0) == 0 || dll == L"vcruntime140.dll";
        EXPECT_TRUE(allowed) << std::string(dll.begin(), dll.end());
    }
}

}  // namespace
