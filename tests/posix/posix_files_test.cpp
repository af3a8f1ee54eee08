#include "allowed/allowed_domains.h"
#include "form/quellit.h"
#include "platform/error.h"
#include "platform/posix/posix_files.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tavro {
namespace {

using fakes::errorNumber;

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
}

int openDescriptors() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

// While it lives, a file can grow to no more than the given size, and a write
// past it fails instead of ending the process; for every user, root included.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN)) {
        if (::getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
            return;
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        if (m_set)
            ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool set() const { return m_set; }

private:
    rlimit m_saved{};
    void (*m_handler)(int);
    bool m_set = false;
};

// A fresh folder per test, with the real file adapter behind an otherwise fake platform.
class PosixFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tavro-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        fake.toolkit.folder = folder.string();
        file = folder / "Whitelst.txt";
    }
    void TearDown() override {
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(folder);
    }

    fs::path folder;
    fs::path file;
    PosixFiles files;
    fakes::FakePlatform fake;
    Platform platform{fake.toolkit,    fake.browser,    fake.keys, fake.tone, fake.settings,
                      fake.notifyArea, fake.helpViewer, fake.http, files};
    Quellit form{platform};
};

TEST_F(PosixFilesTest, MissingFileIsToldApartFromOtherFailures) {
    writeAll(folder / "plain", "x");
    fs::create_directory(folder / "dir");
    EXPECT_EQ(errorNumber([&] { files.openInput(file.string()); }), errc::FileNotFound);
    EXPECT_EQ(errorNumber([&] { files.openInput((folder / "plain" / "Whitelst.txt").string()); }),
              errc::FileNotFound);
    const int dirError = errorNumber([&] { files.openInput((folder / "dir").string()); });
    EXPECT_NE(dirError, 0);
    EXPECT_NE(dirError, errc::FileNotFound);
}

TEST_F(PosixFilesTest, ReadsEveryByteAcrossBufferBoundaries) {
    std::string content;
    for (int i = 0; i < 200'000; ++i)
        content.push_back(static_cast<char>(i * 7 % 256));
    writeAll(file, content);

    const int before = openDescriptors();
    {
        auto input = files.openInput(file.string());
        EXPECT_EQ(openDescriptors(), before + 1);
        std::string read;
        while (!input->eof())
            read.push_back(input->get());
        EXPECT_EQ(read, content);
        EXPECT_EQ(errorNumber([&] { input->get(); }), errc::InputPastEndOfFile);
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(PosixFilesTest, WritesLinesWithCrLfAndLeavesNoTemporaryFile) {
    writeAll(file, "old.example\r\n");
    ::chmod(file.c_str(), 0640);
    auto output = files.openOutput(file.string());
    EXPECT_EQ(readAll(file), "old.example\r\n") << "nothing changes before close";
    output->writeLine("a.example");
    output->writeLine("");
    output->writeLine("b.example");
    output->close();
    EXPECT_EQ(readAll(file), "a.example\r\n\r\nb.example\r\n");
    EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt"));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(PosixFilesTest, OutputDroppedWithoutCloseLeavesTheOldFileWhole) {
    writeAll(file, "old.example\r\n");
    const int before = openDescriptors();
    {
        auto output = files.openOutput(file.string());
        for (int i = 0; i < 20'000; ++i) // past the write buffer, so some of it reaches the disk
            output->writeLine("new.example");
    }
    EXPECT_EQ(readAll(file), "old.example\r\n");
    EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt"));
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(PosixFilesTest, SymbolicLinkIsWrittenThrough) {
    fs::create_directory(folder / "real");
    writeAll(folder / "real" / "list.txt", "old.example\r\n");
    fs::create_symlink(folder / "real" / "list.txt", file);
    auto output = files.openOutput(file.string());
    output->writeLine("a.example");
    output->close();
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
    EXPECT_EQ(readAll(folder / "real" / "list.txt"), "a.example\r\n");
}

// A link whose target does not exist yet is still written through: the target
// is created, at the save and at a start-up that finds no file, and the link stays.
struct DanglingLinkCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links; // link (in the folder) -> target
    std::string created;                                    // below the folder
};

class PosixFilesDanglingLinkTest : public PosixFilesTest,
                                   public ::testing::WithParamInterface<DanglingLinkCase> {
protected:
    void SetUp() override {
        PosixFilesTest::SetUp();
        fs::create_directories(folder / "real" / "sub");
        for (const auto& [link, target] : GetParam().links)
            fs::create_symlink(target.starts_with("/") ? (folder / target.substr(1)).string() : target,
                               folder / link);
    }
};

TEST_P(PosixFilesDanglingLinkTest, SaveCreatesTheTarget) {
    form.lstWhiteList.append("a.example");
    SaveAllowedDomains(form);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
    EXPECT_EQ(readAll(folder / GetParam().created), "a.example\r\n");
    EXPECT_THAT(namesIn(folder / "real"), ElementsAre("list.txt", "sub"));
}

TEST_P(PosixFilesDanglingLinkTest, StartUpCreatesTheTargetEmpty) {
    LoadAllowedDomains(form);
    EXPECT_EQ(form.lstWhiteList.count(), 0);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
    ASSERT_TRUE(fs::is_regular_file(folder / GetParam().created));
    EXPECT_EQ(fs::file_size(folder / GetParam().created), 0U);
}

// A target starting with "/" is made absolute below the test's folder; any
// other is kept relative, to be taken from the link's own folder. Through a
// linked folder ".." is that folder's parent, not the link's.
INSTANTIATE_TEST_SUITE_P(
    Links, PosixFilesDanglingLinkTest,
    ::testing::Values(DanglingLinkCase{"Absolute", {{"Whitelst.txt", "/real/list.txt"}}, "real/list.txt"},
                      DanglingLinkCase{"Relative", {{"Whitelst.txt", "real/list.txt"}}, "real/list.txt"},
                      DanglingLinkCase{"ThroughALinkedFolder",
                                       {{"hop", "real/sub"}, {"Whitelst.txt", "hop/../list.txt"}},
                                       "real/list.txt"},
                      DanglingLinkCase{"Chain",
                                       {{"Whitelst.txt", "second"}, {"second", "real/list.txt"}},
                                       "real/list.txt"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(PosixFilesTest, LinkLoopFailsTheSaveAndKeepsTheLinks) {
    fs::create_symlink("other", file);
    fs::create_symlink("Whitelst.txt", folder / "other");
    form.lstWhiteList.append("a.example");
    EXPECT_NE(errorNumber([&] { SaveAllowedDomains(form); }), 0);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder / "other")));
    EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt", "other"));
}

TEST_F(PosixFilesTest, NoFileAtStartIsCreatedWithLengthZero) {
    LoadAllowedDomains(form);
    EXPECT_EQ(form.lstWhiteList.count(), 0);
    ASSERT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(fs::file_size(file), 0U);
}

TEST_F(PosixFilesTest, SaveAndLoadThroughTheRealFile) {
    form.lstWhiteList.append("a.example");
    form.lstWhiteList.append("b.example");
    SaveAllowedDomains(form);
    EXPECT_EQ(readAll(file), "a.example\r\nb.example\r\n");
    EXPECT_EQ(fs::file_size(file), 22U);

    writeAll(file, "  c.example,a.example\nb.example\r\"d,e\"\r\n");
    const int before = openDescriptors();
    Quellit next(platform);
    LoadAllowedDomains(next);
    EXPECT_EQ(openDescriptors(), before);
    ASSERT_EQ(next.lstWhiteList.count(), 4);
    EXPECT_EQ(next.lstWhiteList.text(0), "c.example");
    EXPECT_EQ(next.lstWhiteList.text(3), "d,e");

    next.lstWhiteList.clear();
    SaveAllowedDomains(next);
    EXPECT_EQ(fs::file_size(file), 0U);
}

// The program's folder lies below a regular file: nothing can be created in
// it, whoever runs the test (permissions would not stop root).
TEST_F(PosixFilesTest, StartUpFailsWhenTheMissingFileCannotBeCreated) {
    writeAll(folder / "plain", "x");
    fake.toolkit.folder = (folder / "plain").string();
    EXPECT_THROW(LoadAllowedDomains(form), Error);
    EXPECT_EQ(form.lstWhiteList.count(), 0);
}

// A folder that takes no new file cannot get the missing file at start-up, but
// a writable file in it is still saved, rewritten in place; a read-only file is
// not, wherever it lies.
TEST_F(PosixFilesTest, ReadOnlyFolderFailsStartUpWithoutAFileButSavesAWritableFileInPlace) {
    const auto checks = [&] {
        const auto folderWritable = [&](bool writable) {
            fs::permissions(folder,
                            writable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_exec);
        };

        folderWritable(false);
        EXPECT_EQ(errorNumber([&] { LoadAllowedDomains(form); }), errc::PermissionDenied);
        EXPECT_THAT(namesIn(folder), IsEmpty());

        folderWritable(true);
        writeAll(file, "old.example\r\n");
        folderWritable(false);
        const int before = openDescriptors();
        {
            auto output = files.openOutput(file.string());
            output->writeLine("dropped.example");
        }
        EXPECT_EQ(readAll(file), "old.example\r\n") << "an output never closed changes nothing";
        form.lstWhiteList.append("a.example");
        form.lstWhiteList.append("b.example");
        EXPECT_EQ(errorNumber([&] { SaveAllowedDomains(form); }), 0);
        EXPECT_EQ(readAll(file), "a.example\r\nb.example\r\n");
        EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt"));
        EXPECT_EQ(openDescriptors(), before);

        Quellit next(platform);
        LoadAllowedDomains(next);
        EXPECT_THAT(fakes::entries(next.lstWhiteList), ElementsAre("a.example", "b.example"));

        // A shorter list leaves nothing of the longer one behind.
        form.lstWhiteList.clear();
        SaveAllowedDomains(form);
        EXPECT_EQ(fs::file_size(file), 0U);

        // A write failing in place is reported, never taken for a save.
        for (int i = 0; i < 10'000; ++i)
            form.lstWhiteList.append("d" + std::to_string(i) + ".example");
        auto output = files.openOutput(file.string());
        for (std::int16_t i = 0; i < form.lstWhiteList.count(); ++i)
            output->writeLine(form.lstWhiteList.text(i));
        int first = 0;
        int second = 0;
        {
            const FileSizeLimit limit(4096);
            ASSERT_TRUE(limit.set());
            first = errorNumber([&] { output->close(); });
            second = errorNumber([&] { output->close(); });
        }
        EXPECT_NE(first, 0);
        EXPECT_NE(second, 0) << "a second close does not claim success";
        EXPECT_LE(fs::file_size(file), 4096U);
        output.reset();
        EXPECT_EQ(openDescriptors(), before);

        // A read-only file is not replaced, in a read-only folder or a writable one.
        folderWritable(true);
        writeAll(file, "old.example\r\n");
        fs::permissions(file, fs::perms::owner_read);
        for (const bool writable : {false, true}) {
            folderWritable(writable);
            EXPECT_EQ(errorNumber([&] { SaveAllowedDomains(form); }), errc::PermissionDenied);
            EXPECT_EQ(readAll(file), "old.example\r\n");
            EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt"));
        }
    };
    if (::geteuid() != 0) {
        checks();
        return;
    }
    // Permissions do not bind root, so root runs the checks in a child that
    // has become an ordinary user and owns the folder.
    EXPECT_EXIT(
        {
            constexpr uid_t nobody = 65534;
            if (::chown(folder.c_str(), nobody, nobody) != 0 || ::setgroups(0, nullptr) != 0 ||
                ::setresgid(nobody, nobody, nobody) != 0 || ::setresuid(nobody, nobody, nobody) != 0)
                std::_Exit(2);
            checks();
            std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(PosixFilesTest, SaveDropsSetUserAndGroupIdBits) {
    writeAll(file, "old.example\r\n");
    ASSERT_EQ(::chmod(file.c_str(), 06755), 0);
    SaveAllowedDomains(form);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755U);
}

// A load that stopped at the list's limit: the first save keeps the file byte
// for byte beside it, replacing an older copy, and no more open to others than
// the file itself.
TEST_F(PosixFilesTest, FileNotLoadedWholeIsKeptAsABackupAtTheFirstSave) {
    std::string content = "a.example\r\nb.example\r\n";
    for (int i = 0; i < 100'000; ++i) // across the copy's buffer, every byte value
        content.push_back(static_cast<char>(i * 7 % 256));
    writeAll(file, content);
    ASSERT_EQ(::chmod(file.c_str(), 06640), 0);
    const fs::path backup = folder / "Whitelst.txt.bak";
    writeAll(backup, "older.example\r\n");
    ::chmod(backup.c_str(), 0666);
    for (int i = 0; i < ListBox::MaxEntries - 1; ++i)
        form.lstWhiteList.append("p" + std::to_string(i) + ".example");

    LoadAllowedDomains(form);
    SaveAllowedDomains(form);
    EXPECT_EQ(readAll(backup), content);
    EXPECT_EQ(fs::status(backup).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(readAll(file).find("b.example"), std::string::npos);
    EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt", "Whitelst.txt.bak"));
}

// A write failing half-way (past a file-size limit) leaves the old file whole.
TEST_F(PosixFilesTest, WriteFailingHalfWayLeavesTheOldFileWhole) {
    writeAll(file, "old.example\r\n");
    for (int i = 0; i < 10'000; ++i)
        form.lstWhiteList.append("d" + std::to_string(i) + ".example");

    const int before = openDescriptors();
    int error = 0;
    {
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.set());
        error = errorNumber([&] { SaveAllowedDomains(form); });
    }

    EXPECT_NE(error, 0);
    EXPECT_EQ(readAll(file), "old.example\r\n");
    EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt"));
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(PosixFilesTest, FolderInPlaceOfTheFileStopsTheLoadSilentlyAndFailsTheSave) {
    fs::create_directory(file);
    EXPECT_NO_THROW(LoadAllowedDomains(form));
    EXPECT_EQ(form.lstWhiteList.count(), 0);
    form.lstWhiteList.append("a.example");
    EXPECT_THROW(SaveAllowedDomains(form), Error);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_THAT(namesIn(folder), ElementsAre("Whitelst.txt"));
}

} // namespace
} // namespace tavro
