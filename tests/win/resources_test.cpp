// Checks the resources linked into the real Lumivex.exe: the icon group the window class names,
// the manifest the loader reads and the version block Explorer shows.
#include "test_support.h"
#include "version.h"

#include "res/resource.h"

#include <algorithm>
#include <cstring>
#include <memory>

struct ModuleDeleter {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ModulePtr = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleDeleter>;

static std::string ExecutablePath()
{
    std::string path = LUMIVEX_EXE;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The executable mapped for its resources only: none of its code runs.
static ModulePtr LoadExecutable()
{
    return ModulePtr(LoadLibraryExA(ExecutablePath().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

// The bytes of one resource; empty when it is missing.
static std::vector<unsigned char> ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name)
{
    HRSRC found = FindResourceA(module, name, type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const unsigned char* bytes = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    if (!bytes) return {};
    return std::vector<unsigned char>(bytes, bytes + SizeofResource(module, found));
}

static unsigned Read16(const std::vector<unsigned char>& bytes, size_t at) { return bytes[at] | (bytes[at + 1] << 8); }

// One entry of an icon group as stored in the module (14 bytes each after a 6-byte head).
struct GroupEntry {
    int side;
    unsigned planes, bitCount, id;
};

static std::vector<GroupEntry> GroupEntries(const std::vector<unsigned char>& group)
{
    std::vector<GroupEntry> entries;
    if (group.size() < 6 || Read16(group, 2) != 1) return entries;
    for (unsigned i = 0; i < Read16(group, 4) && 6 + 14 * (i + 1) <= group.size(); ++i) {
        size_t at = 6 + 14 * i;
        int side = group[at] == 0 ? 256 : group[at];
        entries.push_back({side, Read16(group, at + 4), Read16(group, at + 6), Read16(group, at + 12)});
    }
    return entries;
}

TEST(ExecutableResources, IconGroupHoldsSixPngImagesFrom16To256)
{
    ModulePtr module = LoadExecutable();
    ASSERT_TRUE(module) << ExecutablePath() << " error " << GetLastError();
    std::vector<unsigned char> group = ResourceBytes(module.get(), RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_LUMIVEX));
    std::vector<GroupEntry> entries = GroupEntries(group);
    ASSERT_EQ(entries.size(), 6u);
    const int sides[] = {16, 32, 48, 64, 128, 256};
    const unsigned char pngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(sides[i]);
        EXPECT_EQ(entries[i].side, sides[i]);
        EXPECT_EQ(entries[i].planes, 1u);
        EXPECT_EQ(entries[i].bitCount, 32u);
        std::vector<unsigned char> image = ResourceBytes(module.get(), RT_ICON, MAKEINTRESOURCEA(entries[i].id));
        ASSERT_GE(image.size(), 24u);
        EXPECT_EQ(std::memcmp(image.data(), pngSignature, sizeof pngSignature), 0);
        // The PNG's own header must agree with the directory, or the shell scales a wrong image.
        unsigned width = (image[16] << 24) | (image[17] << 16) | (image[18] << 8) | image[19];
        EXPECT_EQ(width, unsigned(sides[i]));
        EXPECT_EQ(image[25], 6) << "colour type: RGBA expected";
    }
}

TEST(ExecutableResources, SystemPicksTheMatchingIconAndDecodesIt)
{
    ModulePtr module = LoadExecutable();
    ASSERT_TRUE(module);
    std::vector<unsigned char> group = ResourceBytes(module.get(), RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_LUMIVEX));
    std::vector<GroupEntry> entries = GroupEntries(group);
    ASSERT_EQ(entries.size(), 6u);
    for (const GroupEntry& wanted : {entries[1], entries[5]}) {
        SCOPED_TRACE(wanted.side);
        int id = LookupIconIdFromDirectoryEx(group.data(), TRUE, wanted.side, wanted.side, LR_DEFAULTCOLOR);
        ASSERT_EQ(id, static_cast<int>(wanted.id));
        std::vector<unsigned char> image = ResourceBytes(module.get(), RT_ICON, MAKEINTRESOURCEA(id));
        HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                              wanted.side, wanted.side, LR_DEFAULTCOLOR);
        ASSERT_TRUE(icon != nullptr) << "error " << GetLastError();
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour{};
        GetObjectA(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, wanted.side);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST(ExecutableResources, ManifestRunsAsInvokerLongPathAwareWithClassicControls)
{
    ModulePtr module = LoadExecutable();
    ASSERT_TRUE(module);
    std::vector<unsigned char> bytes = ResourceBytes(module.get(), RT_MANIFEST, MAKEINTRESOURCEA(1));
    ASSERT_FALSE(bytes.empty());
    std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>"),
              std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
}

static std::string VersionString(const std::vector<unsigned char>& block, const char* name)
{
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT length = 0;
    void* data = const_cast<unsigned char*>(block.data());
    if (!VerQueryValueA(data, "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof *translation) {
        return "(no translation)";
    }
    char query[64];
    sprintf_s(query, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage, name);
    char* value = nullptr;
    if (!VerQueryValueA(data, query, reinterpret_cast<void**>(&value), &length) || !value) return "(missing)";
    return value;
}

TEST(ExecutableResources, VersionInfoNamesLumivexAndTheProjectVersion)
{
    std::string path = ExecutablePath();
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (LUMIVEX_VERSION_MAJOR << 16u) | LUMIVEX_VERSION_MINOR);
    EXPECT_EQ(fixed->dwFileVersionLS, LUMIVEX_VERSION_PATCH << 16u);
    EXPECT_EQ(fixed->dwProductVersionMS, (LUMIVEX_VERSION_MAJOR << 16u) | LUMIVEX_VERSION_MINOR);
    EXPECT_EQ(VersionString(block, "ProductName"), "Lumivex");
    EXPECT_EQ(VersionString(block, "OriginalFilename"), "Lumivex.exe");
    EXPECT_EQ(VersionString(block, "FileVersion"), LUMIVEX_VERSION_TEXT ".0");
    EXPECT_EQ(VersionString(block, "CompanyName"), "Lumivex");
}
