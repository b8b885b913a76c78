#include "Installer/DLL/InstallManifest.h"
#include "Installer/DLL/Paths.h"
#include "Installer/DLL/ShellHelpers.h"
#include "tests/common/TestPaths.h"
#include "tests/installer/InstallerFixture.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

struct Split {
    std::string drive, folder, name, extension;
};

Split SplitText(const char* path, UINT codePage = CP_ACP) {
    const PathParts p = SplitPath(path, codePage);
    Split s;
    s.drive.assign(path, p.driveLength);
    s.folder.assign(path + p.driveLength, p.folderLength);
    s.name.assign(path + p.driveLength + p.folderLength, p.nameLength);
    s.extension.assign(path + p.driveLength + p.folderLength + p.nameLength, p.extensionLength);
    return s;
}

class HelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = std::string("C:\\bralimond-helpers-") + info->name();
        RemoveTree(root);
        ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(root); }
    std::string root;
};

}  // namespace

TEST(PathSplit, SplitsDriveFolderNameAndExtension) {
    Split s = SplitText("C:\\Program Files\\Vendor.Dir\\setup.tar.gz");
    EXPECT_EQ("C:", s.drive);
    EXPECT_EQ("\\Program Files\\Vendor.Dir\\", s.folder);
    EXPECT_EQ("setup.tar", s.name);
    EXPECT_EQ(".gz", s.extension);

    s = SplitText("relative/sub\\name");
    EXPECT_EQ("", s.drive);
    EXPECT_EQ("relative/sub\\", s.folder);
    EXPECT_EQ("name", s.name);
    EXPECT_EQ("", s.extension);

    s = SplitText("C:file.txt");
    EXPECT_EQ("C:", s.drive);
    EXPECT_EQ("", s.folder);
    EXPECT_EQ("file", s.name);

    s = SplitText("");
    EXPECT_EQ("", s.drive + s.folder + s.name + s.extension);
}

TEST(PathSplit, SecondByteOfDoubleByteCharacterIsNoSeparator) {
    // In code page 932, 0x83 0x5C is one character whose second byte is '\'.
    const char path[] = "C:\\dir\\\x83\x5C.txt";
    Split s = SplitText(path, 932);
    EXPECT_EQ("\\dir\\", s.folder);
    EXPECT_EQ("\x83\x5C", s.name);
    EXPECT_EQ(".txt", s.extension);
    // A single-byte code page does take that byte for a separator.
    s = SplitText(path, 1252);
    EXPECT_EQ("\\dir\\\x83\\", s.folder);

    // 0x81 0x2E: the second byte is no dot either.
    s = SplitText(
        "C:\\a\\b\x81\x2E"
        "c",
        932);
    EXPECT_EQ(
        "b\x81\x2E"
        "c",
        s.name);
    EXPECT_EQ("", s.extension);
}

// The one list every other list of installed files derives from, checked against the names an
// installation is known by (letter case included).
TEST(Manifest, ListsTheFilesInCopyOrder) {
    std::string listed;
    for (const ManifestEntry* e = InstallManifest; e->kind != EndOfManifest; ++e)
        listed += std::to_string(e->kind) + " " + e->baseName + e->extension + "\n";
    EXPECT_EQ(
        "0 MERSIVO.exe\n1 Installer.ini\n3 License.txt\n3 BRALIMOND.dll\n2 KOVALTIX.exe\n"
        "3 DPInst.exe\n6 KOVALTIX.dll\n5 VK4M220FL.inf\n4 vk4m220flamd64.cat\n"
        "4 VK4M220FLamd64.sys\n4 VK4M220FUamd64.sys\n4 vk4m220flx86.cat\n"
        "4 VK4M220FLx86.sys\n4 VK4M220FUx86.sys\n4 Driver_Release.txt\n",
        listed);
    EXPECT_STREQ("DPInst.exe", DriverInstallerFile);
    EXPECT_EQ(std::strlen("\\driver\\vk4m220flamd64.cat") + 1, LongestInstalledTail());
}

TEST(PathText, RefusesWhatDoesNotFitAndKeepsTheText) {
    PathText path("C:\\base");
    EXPECT_FALSE(path.Append(std::string(MAX_PATH - 7, 'x').c_str()));
    EXPECT_STREQ("C:\\base", path.c_str());
    EXPECT_FALSE(path.ok());
    PathText exact;
    EXPECT_TRUE(exact.Append(std::string(MAX_PATH - 1, 'y').c_str()));
    EXPECT_EQ(size_t(MAX_PATH - 1), exact.size());
}

TEST_F(HelperTest, CreateFolderTreeMakesMissingLevelsAndEnds) {
    EXPECT_TRUE(CreateFolderTree(root.c_str()));
    const std::string deep = root + "\\one\\two\\three";
    EXPECT_TRUE(CreateFolderTree(deep.c_str()));
    EXPECT_TRUE(FolderExists(deep));
    EXPECT_TRUE(CreateFolderTree((root + "\\four/five\\").c_str()));
    EXPECT_TRUE(FolderExists(root + "\\four\\five"));

    // A file in the way.
    ASSERT_TRUE(WriteFileText(root + "\\file", "x"));
    EXPECT_FALSE(CreateFolderTree((root + "\\file").c_str()));
    EXPECT_FALSE(CreateFolderTree((root + "\\file\\below").c_str()));

    // Parents that run out must end the descent with false.
    EXPECT_FALSE(CreateFolderTree("Q:\\no\\such\\drive"));
    EXPECT_FALSE(CreateFolderTree("\\\\nohost\\noshare\\dir"));
    EXPECT_FALSE(CreateFolderTree(""));
    EXPECT_FALSE(CreateFolderTree(nullptr));
}

TEST_F(HelperTest, RemoveFolderTreeDeletesReadOnlyFilesAndSubfolders) {
    EXPECT_TRUE(RemoveFolderTree((root + "\\absent").c_str()));
    ASSERT_TRUE(CreateFolderTree((root + "\\tree\\sub\\deeper").c_str()));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\plain.txt", "a"));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\sub\\locked.txt", "b"));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\sub\\deeper\\hidden.txt", "c"));
    SetFileAttributesA((root + "\\tree\\sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((root + "\\tree\\sub\\deeper\\hidden.txt").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(RemoveFolderTree((root + "\\tree").c_str()));
    EXPECT_FALSE(FolderExists(root + "\\tree"));
}

TEST_F(HelperTest, RemoveFolderTreeGoesOnPastAFileInUse) {
    ASSERT_TRUE(CreateFolderTree((root + "\\tree\\sub").c_str()));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\a.txt", "a"));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\busy.txt", "b"));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\z.txt", "z"));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\sub\\c.txt", "c"));
    HANDLE busy = CreateFileA((root + "\\tree\\busy.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    EXPECT_FALSE(RemoveFolderTree((root + "\\tree").c_str()));
    CloseHandle(busy);
    EXPECT_EQ(std::vector<std::string>{"busy.txt"}, ListFolder(root + "\\tree"));
}

TEST_F(HelperTest, RemoveFolderTreeDoesNotFollowALinkedFolder) {
    ASSERT_TRUE(CreateFolderTree((root + "\\tree").c_str()));
    ASSERT_TRUE(CreateFolderTree((root + "\\elsewhere").c_str()));
    ASSERT_TRUE(WriteFileText(root + "\\tree\\a.txt", "a"));
    ASSERT_TRUE(WriteFileText(root + "\\elsewhere\\keep.txt", "k"));
    // Wine makes no directory links of its own; a Unix link in the prefix shows as one
    // (a directory and a reparse point).
    const std::string link = root + "\\tree\\link";
    ASSERT_TRUE(StartUnixCommand("ln -s '" + UnixPath(root + "\\elsewhere") + "' '" +
                                 UnixPath(root + "\\tree") + "/link'"));
    for (int waited = 0;
         GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES && waited < 10000;
         waited += 50)
        Sleep(50);
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              GetFileAttributesA(link.c_str()) &
                  (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

    // Wine cannot remove such a link, so the tree reports the failure; nothing behind the link
    // was touched.
    RemoveFolderTree((root + "\\tree").c_str());
    EXPECT_FALSE(FileExists(root + "\\tree\\a.txt"));
    EXPECT_TRUE(FileExists(root + "\\elsewhere\\keep.txt"));
    EXPECT_FALSE(RemoveFolderTree(link.c_str()));
    EXPECT_TRUE(FileExists(root + "\\elsewhere\\keep.txt"));
    StartUnixCommand("rm '" + UnixPath(root + "\\tree") + "/link'");
    for (int waited = 0;
         GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES && waited < 10000;
         waited += 50)
        Sleep(50);
}

TEST_F(HelperTest, ShortcutInAGivenFolderTakesItsDefaults) {
    const std::string target = root + "\\app\\Tool.exe";
    const std::string folder = root + "\\links\\nested";
    ASSERT_TRUE(CreateShortcut(target.c_str(), "My Tool", nullptr, nullptr, -1, folder.c_str(),
                               "/x 1", nullptr, SW_SHOWMAXIMIZED, nullptr, 0));
    ShortcutInfo link;
    ASSERT_TRUE(ReadShortcut(folder + "\\My Tool.lnk", link));
    EXPECT_EQ(target, link.target);
    EXPECT_EQ("/x 1", link.arguments);
    EXPECT_EQ(root + "\\app", link.workingDirectory);
    EXPECT_EQ("My Tool", link.description);
    EXPECT_EQ(SW_SHOWMAXIMIZED, link.showCommand);

    // Saved again over the same file, with the given texts this time.
    ASSERT_TRUE(CreateShortcut(target.c_str(), "My Tool", "About it", nullptr, -1, folder.c_str(),
                               nullptr, "C:\\work", SW_SHOWNORMAL, nullptr, 0));
    ASSERT_TRUE(ReadShortcut(folder + "\\My Tool.lnk", link));
    EXPECT_EQ("", link.arguments);
    EXPECT_EQ("C:\\work", link.workingDirectory);
    EXPECT_EQ("About it", link.description);
    EXPECT_EQ(SW_SHOWNORMAL, link.showCommand);
}

TEST_F(HelperTest, ShortcutRefusalsTouchNothing) {
    const std::string target = root + "\\Tool.exe";
    const std::string folder = root + "\\links";
    EXPECT_FALSE(CreateShortcut(target.c_str(), nullptr, nullptr, nullptr, -1, folder.c_str(),
                                nullptr, nullptr, 1, nullptr, 0));
    EXPECT_FALSE(CreateShortcut(nullptr, "name", nullptr, nullptr, -1, folder.c_str(), nullptr,
                                nullptr, 1, nullptr, 0));
    EXPECT_FALSE(CreateShortcut(target.c_str(), "name", nullptr, nullptr, -1, nullptr, nullptr,
                                nullptr, 1, nullptr, 0));
    // A link path beyond the buffer is refused before its folder is made.
    const std::string longName(MAX_PATH - folder.size() - 5, 'n');
    EXPECT_FALSE(CreateShortcut(target.c_str(), longName.c_str(), nullptr, nullptr, -1,
                                folder.c_str(), nullptr, nullptr, 1, nullptr, 0));
    EXPECT_FALSE(FolderExists(folder));
}

TEST_F(HelperTest, ShortcutInASpecialFolder) {
    const std::string target = root + "\\Tool.exe";
    const std::string name = "Bralimond helper test link";
    const std::string link =
        SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\" + name + ".lnk";
    DeleteFileA(link.c_str());
    EXPECT_TRUE(CreateShortcut(target.c_str(), name.c_str(), nullptr, nullptr,
                               CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, nullptr, nullptr, 1, nullptr,
                               0));
    ShortcutInfo info;
    EXPECT_TRUE(ReadShortcut(link, info));
    EXPECT_EQ(target, info.target);
    EXPECT_EQ(root, info.workingDirectory);
    DeleteFileA(link.c_str());
}

TEST_F(HelperTest, IsModuleLoadedKnowsTheFileHoweverItsPathIsSpelled) {
    char self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, self, MAX_PATH));
    EXPECT_TRUE(IsModuleLoaded(self));
    EXPECT_TRUE(IsModuleLoaded(Upper(self).c_str()));
    EXPECT_FALSE(IsModuleLoaded((std::string(self) + "x").c_str()));
    EXPECT_FALSE(IsModuleLoaded(std::string(self).substr(0, std::string(self).size() - 1).c_str()));

    // A module of another process, loaded through its short name; a copy of it elsewhere is
    // another file.
    const std::string dll = root + "\\Held Library Folder\\Held Library.dll";
    const std::string copy = root + "\\Held Library.dll";
    ASSERT_TRUE(CreateFolderTree((root + "\\Held Library Folder").c_str()));
    ASSERT_TRUE(CopyFileA((BinFolder() + "BRALIMOND.dll").c_str(), dll.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(dll.c_str(), copy.c_str(), FALSE));
    char shortName[MAX_PATH] = "";
    ASSERT_NE(0u, GetShortPathNameA(dll.c_str(), shortName, MAX_PATH));
    ASSERT_NE(Upper(dll), Upper(shortName));
    EXPECT_FALSE(IsModuleLoaded(dll.c_str()));
    {
        ModuleHolder holder;
        ASSERT_TRUE(holder.Start(shortName));
        EXPECT_TRUE(IsModuleLoaded(dll.c_str()));
        EXPECT_TRUE(IsModuleLoaded(Upper(dll).c_str()));
        EXPECT_FALSE(IsModuleLoaded(copy.c_str()));
    }
    EXPECT_FALSE(IsModuleLoaded(dll.c_str()));
}

TEST_F(HelperTest, ShortcutRefusedOnAMultithreadedApartment) {
    const std::string folder = root + "\\links";
    bool made = true;
    std::thread worker([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
        made = CreateShortcut((root + "\\Tool.exe").c_str(), "name", nullptr, nullptr, -1,
                              folder.c_str(), nullptr, nullptr, 1, nullptr, 0);
        CoUninitialize();
    });
    worker.join();
    EXPECT_FALSE(made);
    EXPECT_FALSE(FileExists(folder + "\\name.lnk"));
}
