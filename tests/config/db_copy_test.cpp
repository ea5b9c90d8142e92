#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/fakes.h"

namespace flintmere {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::TestApp;

const char* const kMarkers[] = {"hw_x3250", "hw_x3550", "hw_advantech250"};

// A medium whose writes can be made to fail by name.
class FailingRoot final : public MediaRoot {
  public:
    explicit FailingRoot(std::set<std::string> failing) : failing_(std::move(failing)) {}
    u16 DisplayPath(std::string_view relPath) const override { return FromPath(relPath); }
    bool MakeFolder(std::string_view) override { return true; }
    bool WriteFile(std::string_view relPath, std::span<const std::uint8_t>) override {
        attempts.emplace_back(relPath);
        return !failing_.contains(std::string(relPath));
    }
    bool FileExists(std::string_view) override { return false; }
    bool CopyFileIn(const std::string&, std::string_view, const ChunkProgress&) override {
        return false;
    }
    int LastError() const override { return 28; }  // ENOSPC

    std::vector<std::string> attempts;

  private:
    std::set<std::string> failing_;
};

class DbCopy : public ::testing::Test {
  protected:
    DbCopy() {
        t.env.tempFolder = FromPath(logDir.Path() + "/");
        t->services.OpenLog();
    }
    void SetData(const std::string& bytes) {
        t->record.m_dbFileData.assign(bytes.begin(), bytes.end());
    }
    std::string Log() { return ReadFileBytes(t->services.m_logFile.Path()); }

    TempDir logDir;
    TempDir medium;
    TestApp t;
};

TEST_F(DbCopy, WritesTheDatabaseByteForByte) {
    const std::string utf16("\xFF\xFE<\0k\0/\0>\0\r\0\n\0", 14);
    const std::string sample =
        ReadFileBytes(std::string(FLINTMERE_SOURCE_DIR) + "/samples/config.xml");
    const std::string mixed = "<kestrelData>\r\n<x>caf\xC3\xA9 \xE9</x>\n</kestrelData>";
    for (const std::string& bytes : {sample, mixed, utf16}) {
        SetData(bytes);
        LocalFolderRoot root(medium.Path());
        ASSERT_TRUE(t->config.CopyDbFile(t->record, root));
        EXPECT_EQ(ReadFileBytes(medium / "config.xml"), bytes);
    }
    const std::string log = Log();
    EXPECT_NE(log.find("CopyDbFile(): start"), std::string::npos);
    // The log keeps one line per entry: the line breaks are written escaped.
    EXPECT_NE(log.find("CopyDbFile(): write: \"<kestrelData>\\r\\n<x>caf\xC3\xA9 \xE9</x>\\n"
                       "</kestrelData>\""),
              std::string::npos);
}

TEST_F(DbCopy, MarkerFilesFollowTheHardwareCode) {
    struct Case {
        int hwType;
        const char* marker;
    };
    const Case cases[] = {
        {HwX3250, "hw_x3250"},
        {HwX3550, "hw_x3550"},
        {HwAdvantech250, "hw_advantech250"},
        {HwNone, nullptr},
        {HwAdvantech, nullptr},
        {HwVirtual250, nullptr},
        {HwVirtualExtraLarge, nullptr},
        {99, nullptr},
    };
    SetData("<kestrelData/>");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hwType);
        TempDir target;
        LocalFolderRoot root(target.Path());
        t->record.m_hwType = c.hwType;
        const auto logBefore = Log().size();
        ASSERT_TRUE(t->config.CopyDbFile(t->record, root));
        EXPECT_EQ(ReadFileBytes(target / "config.xml"), "<kestrelData/>");
        for (const char* marker : kMarkers) {
            const bool expected = c.marker && std::string(marker) == c.marker;
            EXPECT_EQ(std::filesystem::exists(target / marker), expected) << marker;
            if (expected) {
                EXPECT_EQ(std::filesystem::file_size(target / marker), 0u);
            }
        }
        const bool done = Log().find("CopyDbFile(): done", logBefore) != std::string::npos;
        EXPECT_EQ(done, c.marker != nullptr);
    }
}

TEST_F(DbCopy, NothingImportedShowsTheMessage) {
    t->record.m_dbFileData.clear();
    LocalFolderRoot root(medium.Path());
    EXPECT_FALSE(t->config.CopyDbFile(t->record, root));
    EXPECT_FALSE(std::filesystem::exists(medium / "config.xml"));
    const auto shown = t.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"database file not found");
    EXPECT_EQ(shown[0].caption, u"Error");
}

TEST_F(DbCopy, UnwritableTargetReportsOnStandardOutput) {
    SetData("<kestrelData/>");
    t->record.m_hwType = HwX3250;
    LocalFolderRoot missing(medium / "no-such-folder");
    EXPECT_FALSE(t->config.CopyDbFile(t->record, missing));
    EXPECT_EQ(t.stdoutText, "Could not open file (error 2)\n");
    EXPECT_TRUE(t.presenter.Shown().empty());
    EXPECT_EQ(Log().find("CopyDbFile(): write:"), std::string::npos);

    t.stdoutText.clear();
    FailingRoot full({"config.xml"});
    EXPECT_FALSE(t->config.CopyDbFile(t->record, full));
    EXPECT_EQ(t.stdoutText, "Could not open file (error 28)\n");
    EXPECT_EQ(full.attempts, std::vector<std::string>{"config.xml"});
}

TEST_F(DbCopy, FailedMarkerDoesNotFailTheCopy) {
    SetData("<kestrelData/>");
    t->record.m_hwType = HwX3550;
    FailingRoot root({"hw_x3550"});
    EXPECT_TRUE(t->config.CopyDbFile(t->record, root));
    EXPECT_EQ(root.attempts, (std::vector<std::string>{"config.xml", "hw_x3550"}));
    EXPECT_TRUE(t.stdoutText.empty());
}

}  // namespace
}  // namespace flintmere
