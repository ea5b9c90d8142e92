#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <iostream>

#include "support/fakes.h"
#include "support/recording_presenter.h"
#include "support/recording_progress.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kGiB = 1ull << 30;

std::string Pattern(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 % 251);
    return bytes;
}

std::string ReadLog(TestApp& app) {
    return ReadFileBytes(app->services.m_logFile.Path());
}

std::vector<u16> ShownTexts(const TestApp& app) {
    std::vector<u16> texts;
    for (const ShownMessage& m : app.presenter.Shown()) texts.push_back(m.text);
    return texts;
}

constexpr char kUnreadable[] = "/sys/bus/pci/rescan";

u16 SystemText(int error) {
    return Utf8ToUtf16(AppServices::SystemErrorText(error));
}

// A distribution tree, a target folder and an app that logs into `tmp`.
class CopyEngineTest : public ::testing::Test {
  public:
    void SetUp() override {
        dist = tmp / "kx";
        target = tmp / "medium";
        fs::create_directories(dist);
        fs::create_directories(target);
        app.env.tempFolder = FromPath(tmp.Path() + "/");
        app->services.OpenLog();
        app->record.m_distFolder = FromPath(dist + "/");
    }

    // The tree of the worked example: 2, 3 and 5 KiB of data (10 KiB in all),
    // an empty file first in its own folder and an empty folder.
    void MakeExampleTree() {
        fs::create_directories(dist + "/sub/deeper");
        fs::create_directories(dist + "/sub2");
        files = {
            {"a.bin", Pattern(2048, 'a')},
            {"b.bin", Pattern(3072, 'b')},
            {"sub/deeper/d.txt", ""},
            {"sub/e.bin", Pattern(5120, 'e')},
        };
        for (const auto& [rel, bytes] : files) WriteFileBytes(dist + "/" + rel, bytes);
    }

    TempDir tmp;
    TestApp app;
    std::string dist;
    std::string target;
    std::vector<std::pair<std::string, std::string>> files;
};

TEST_F(CopyEngineTest, CopiesTreeWithProportionalBarAndPauses) {
    MakeExampleTree();
    // A file left from an earlier run is replaced without a question.
    WriteFileBytes(target + "/a.bin", "stale contents that are longer than nothing");
    RecordingProgress progress;
    progress.SetCurrentPos(16);
    app->engine.m_pProgressDlg = &progress;
    LocalFolderRoot root(target);

    ASSERT_TRUE(app->engine.CopyFiles(root, 100));

    for (const auto& [rel, bytes] : files) {
        EXPECT_EQ(ReadFileBytes(target + "/" + rel), bytes) << rel;
    }
    EXPECT_TRUE(fs::is_directory(target + "/sub2"));
    EXPECT_EQ(app->engine.m_copyTotalKB, 11u);
    EXPECT_EQ(app->engine.m_copyDoneKB, 10u);
    EXPECT_EQ(app->engine.m_progressBase, 16);
    EXPECT_EQ(app->engine.m_progressEnd, 100);

    // Order a.bin, b.bin, sub/deeper/d.txt, sub/e.bin; each file reports once
    // before its data and once per chunk. The bar stays below the end.
    std::vector<int> positions = progress.Positions();
    EXPECT_EQ(positions, (std::vector<int>{16, 31, 31, 53, 53, 53, 91}));
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_LT(positions.back(), 100);

    EXPECT_EQ(progress.Actions(),
              (std::vector<u16>{u"Copying Files...\r\na.bin", u"Copying Files...\r\nb.bin",
                                u"Copying Files...\r\nd.txt", u"Copying Files...\r\ne.bin"}));
    // a.bin and d.txt open their listings; b.bin and e.bin (after "deeper") do not.
    EXPECT_EQ(app.clock.Pauses(), (std::vector<int>{500, 500}));
    EXPECT_TRUE(app.presenter.Shown().empty());

    std::string log = ReadLog(app);
    EXPECT_NE(log.find("CopyFiles(): destination is " + target + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("GetFilesSize(): source path is " + dist + "/sub/\r\n"), std::string::npos);
    EXPECT_NE(log.find("CopyDirFiles(): source is " + dist + "/sub/deeper/\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("CopyDirFiles(): file e.bin\r\n"), std::string::npos);
    EXPECT_NE(log.find("CopyFiles(): done\r\n"), std::string::npos);

    // A second job starts its accounting from zero.
    progress.SetCurrentPos(50);
    ASSERT_TRUE(app->engine.CopyFiles(root, 60));
    EXPECT_EQ(app->engine.m_copyTotalKB, 11u);
    EXPECT_EQ(app->engine.m_copyDoneKB, 10u);
    EXPECT_EQ(app->engine.m_progressBase, 50);
    EXPECT_EQ(progress.Positions().back(), 50 + 90 * 10 / 100);
}

TEST_F(CopyEngineTest, WithoutDialogCopiesSilently) {
    MakeExampleTree();
    app->engine.m_progressBase = 7;
    LocalFolderRoot root(target);
    ASSERT_TRUE(app->engine.CopyFiles(root, 50));
    EXPECT_EQ(ReadFileBytes(target + "/sub/e.bin"), files[3].second);
    EXPECT_EQ(app->engine.m_progressBase, 7);
    EXPECT_EQ(app.clock.Pauses().size(), 2u);
}

TEST_F(CopyEngineTest, FailuresShowTheirMessageAndStop) {
    const u16 noFiles = u"No distribution files found!";
    struct Case {
        const char* name;
        std::function<void(CopyEngineTest&)> arrange;
        bool targetExists;
        std::vector<u16> messages;
    };
    const std::vector<Case> cases = {
        {"missing distribution folder",
         [](CopyEngineTest& t) { t.app->record.m_distFolder = FromPath(t.tmp / "nowhere/"); },
         true,
         {SystemText(ENOENT), noFiles}},
        {"only empty folders",
         [](CopyEngineTest& t) { fs::create_directories(t.dist + "/x/y"); },
         true,
         {noFiles}},
        {"only empty files",
         [](CopyEngineTest& t) {
             fs::create_directories(t.dist + "/x");
             WriteFileBytes(t.dist + "/x/empty", "");
             WriteFileBytes(t.dist + "/zero", "");
         },
         true,
         {noFiles}},
        {"target folder missing",
         [](CopyEngineTest& t) { t.MakeExampleTree(); },
         false,
         {SystemText(ENOENT)}},
        // Named: the operator must find it. A write-only file that even root cannot read.
        {"a file that cannot be read",
         [](CopyEngineTest& t) {
             t.MakeExampleTree();
             fs::create_symlink(kUnreadable, t.dist + "/0.bin");
         },
         true,
         {u"The file kx/0.bin cannot be copied: " + SystemText(EACCES)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "a file that cannot be read" && !fs::exists(kUnreadable)) {
            std::cerr << "skipped '" << c.name << "': no " << kUnreadable << " here\n";
            continue;
        }
        fs::remove_all(dist);
        fs::remove_all(target);
        fs::create_directories(dist);
        if (c.targetExists) fs::create_directories(target);
        app->record.m_distFolder = FromPath(dist + "/");
        app.presenter.Clear();
        app.clock.ClearPauses();
        c.arrange(*this);
        LocalFolderRoot root(target);

        EXPECT_FALSE(app->engine.CopyFiles(root, 100));
        EXPECT_EQ(ShownTexts(app), c.messages);
        for (const ShownMessage& m : app.presenter.Shown()) {
            EXPECT_EQ(m.caption, u"Error");
            EXPECT_EQ(m.style, kMbWarningStyle);
        }
        EXPECT_TRUE(app.clock.Pauses().empty());
        if (c.targetExists) {
            EXPECT_TRUE(fs::is_empty(target));
        }
    }
    std::string log = ReadLog(app);
    EXPECT_NE(log.find("DisplayMessage(): Error: No distribution files found!"), std::string::npos);
    EXPECT_NE(log.find("DisplayErrorMessage(): Error: " + AppServices::SystemErrorText(ENOENT)),
              std::string::npos);
    EXPECT_EQ(log.find("CopyFiles(): done"), std::string::npos);
}

// Requests the stop from inside the copy, as the Cancel button does.
class CancellingProgress final : public ProgressDialog {
  public:
    CancellingProgress(std::stop_source& stop, int cancelAtCall) : stop_(stop), at_(cancelAtCall) {}
    bool IsReady() override { return true; }
    void SetPos(int) override {
        if (++calls_ == at_) stop_.request_stop();
    }
    int GetPos() override { return 0; }
    void SetAction(const u16&) override {}
    void RequestClose() override {}

  private:
    std::stop_source& stop_;
    int at_;
    int calls_ = 0;
};

TEST_F(CopyEngineTest, CancelStopsInTheMiddleOfAFile) {
    const std::size_t chunk = LocalFolderRoot::kChunkSize;
    WriteFileBytes(dist + "/big.bin", Pattern(3 * chunk, 'x'));
    WriteFileBytes(dist + "/later.bin", Pattern(100, 'l'));
    // Call 1 comes before any data, call 2 after the first chunk.
    CancellingProgress progress(app->engine.m_workerStop, 2);
    app->engine.m_pProgressDlg = &progress;
    LocalFolderRoot root(target);

    EXPECT_FALSE(app->engine.CopyFiles(root, 100));
    EXPECT_EQ(fs::file_size(target + "/big.bin"), chunk);
    EXPECT_FALSE(fs::exists(target + "/later.bin"));
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_NE(ReadLog(app).find("CopyDirFiles(): canceled"), std::string::npos);
}

TEST_F(CopyEngineTest, CancelStopsTheSizeCountToo) {
    fs::create_directories(dist + "/sub");
    WriteFileBytes(dist + "/sub/a.bin", "a");
    app->engine.m_workerStop.request_stop();
    LocalFolderRoot root(target);

    EXPECT_FALSE(app->engine.CopyFiles(root, 100));
    EXPECT_TRUE(app.presenter.Shown().empty()) << "a cancel is no missing distribution";
    const std::string log = ReadLog(app);
    EXPECT_NE(log.find("CopyFiles(): canceled"), std::string::npos);
    EXPECT_EQ(log.find("GetFilesSize(): source path is " + dist + "/sub/"), std::string::npos);
}

TEST_F(CopyEngineTest, SumsFilesBeyondFourGiB) {
    // Sparse files: the sizes are real, the disk space is not used.
    for (const char* name : {"one.img", "two.img"}) {
        std::string path = dist + "/" + name;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        int rc = ::ftruncate(fd, static_cast<off_t>(3 * kGiB));
        ::close(fd);
        if (rc != 0) GTEST_SKIP() << "no sparse files of 3 GiB here: " << std::strerror(errno);
    }
    app->engine.m_copyTotalKB = 0;
    ASSERT_TRUE(app->engine.GetFilesSize(dist + "/"));
    EXPECT_EQ(app->engine.m_copyTotalKB, 6 * kGiB);
}

TEST(CopyProgressRoutineTest, AccountsInSixtyFourBits) {
    struct Case {
        const char* name;
        std::uint64_t totalKB, doneKB;
        int base, end;
        std::uint64_t fileSize, bytesDone;
        int position;
        std::uint64_t fileKB;
    };
    const Case cases[] = {
        {"worked example, last file", 11, 5, 16, 100, 5120, 5120, 91, 5},
        {"4.5 GiB into a 5 GiB file of a 10 GiB tree", (10 * kGiB >> 10) + 1, 4 * kGiB >> 10, 0,
         100, 5 * kGiB, 4 * kGiB + kGiB / 2, 84, 5 * kGiB >> 10},
        {"file of exactly 4 GiB, done", (8 * kGiB >> 10) + 1, 0, 50, 100, 4 * kGiB, 4 * kGiB,
         50 + 49 * 50 / 100, 4 * kGiB >> 10},
        {"second half of a 9 GiB tree", (9 * kGiB >> 10) + 1, 6 * kGiB >> 10, 1, 50, 3 * kGiB,
         3 * kGiB - 1, 1 + 99 * 49 / 100, 3 * kGiB >> 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp app;
        RecordingProgress progress;
        app->engine.m_pProgressDlg = &progress;
        app->engine.m_copyTotalKB = c.totalKB;
        app->engine.m_copyDoneKB = c.doneKB;
        app->engine.m_progressBase = c.base;
        app->engine.m_progressEnd = c.end;
        EXPECT_TRUE(app->engine.CopyProgressRoutine(c.fileSize, c.bytesDone));
        EXPECT_EQ(progress.Positions(), std::vector<int>{c.position});
        EXPECT_EQ(app->engine.m_copyFileKB, c.fileKB);
    }
}

}  // namespace
}  // namespace flintmere::testing
