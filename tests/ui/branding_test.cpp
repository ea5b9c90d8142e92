// The branding button: texts checked on OK, the logo loaded after the dialog
// closes, and the operator kept in the dialog until the logo loads or Cancel.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "config/setup_validation.h"
#include "support/recording_presenter.h"
#include "support/ui_harness.h"
#include "ui/branding_dlg.h"

namespace flintmere::testing {
namespace {

using namespace ui;

class Branding : public ::testing::Test {
  protected:
    void SetUp() override { FLINTMERE_START_DIALOG(rig); }

    std::string MakeLogo(const std::string& name, std::size_t size) {
        std::filesystem::create_directories(rig.dir / "pics");
        const std::string path = rig.dir / ("pics/" + name);
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7);
        WriteFileBytes(path, bytes);
        return path;
    }

    // Boxes shown since the start-up.
    std::vector<ShownMessage> Boxes() { return rig.app_.presenter.Shown(); }

    UiHarness rig;
};

TEST_F(Branding, LogoSizeLimit) {
    struct Row {
        std::size_t size;
        bool loads;
    };
    for (const Row row : {Row{kMaxLogoBytes - 1, true}, Row{kMaxLogoBytes, false}}) {
        SCOPED_TRACE(row.size);
        UiHarness fresh;
        FLINTMERE_START_DIALOG(fresh);
        const std::string logo = MakeLogo("logo.png", row.size);
        fresh.host.openAnswers = {FromPath(logo)};
        fresh.host.brandingScript = [&](CBrandingDlg&, ControlSurface&, int) {
            if (fresh.host.brandingRuns > 1) return false;  // back in the dialog: Cancel
            fresh.host.brandingOperator->Click(IdBrandBrowse);
            fresh.host.brandingOperator->Type(IdBrandCompanyName, u"Example Telecom");
            return true;
        };
        fresh.op().Click(IdBranding);

        const SetupRecord& record = fresh.app().record;
        if (row.loads) {
            EXPECT_EQ(fresh.host.brandingRuns, 1);
            EXPECT_EQ(record.m_logoData.size(), row.size);
            EXPECT_TRUE(std::string(record.m_logoData.begin(), record.m_logoData.end()) ==
                        ReadFileBytes(logo));
            EXPECT_EQ(ToPath(record.m_logoFile), "logo.png");
            EXPECT_EQ(ToPath(record.m_companyName), "Example Telecom");
            EXPECT_TRUE(fresh.app_.presenter.Shown().empty());
        } else {
            EXPECT_EQ(fresh.host.brandingRuns, 2) << "the dialog opens again";
            EXPECT_TRUE(record.m_logoData.empty());
            EXPECT_EQ(ToPath(record.m_logoFile), "");
            EXPECT_EQ(record.m_companyName, kDefaultCompanyName) << "Cancel keeps the texts";
            const std::vector<ShownMessage> boxes = fresh.app_.presenter.Shown();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(ToPath(boxes[0].text), "Logo file size exceeded maximum=50KB");
            EXPECT_EQ(boxes[0].caption, kApplicationTitle);
            EXPECT_EQ(boxes[0].style, kMbSimpleErrorStyle);
        }
        // The browse asked for any existing file, owned by the branding dialog.
        ASSERT_EQ(fresh.host.openRequests.size(), 1u);
        const FileDialogRequest& request = fresh.host.openRequests[0];
        EXPECT_EQ(ToPath(request.filterName), "All Files");
        EXPECT_EQ(ToPath(request.filterPattern), "*.*");
        EXPECT_TRUE(request.mustExist);
        EXPECT_TRUE(request.hideReadOnly);
        EXPECT_EQ(request.owner, DialogOwner::BrandingDialog);
    }
}

TEST_F(Branding, BareLogoNameOnReopening) {
    const std::string logo = MakeLogo("logo.png", 1000);
    rig.host.openAnswers = {FromPath(logo)};
    rig.host.brandingScript = [&](CBrandingDlg&, ControlSurface&, int) {
        rig.host.brandingOperator->Click(IdBrandBrowse);
        return true;
    };
    rig.op().Click(IdBranding);
    ASSERT_EQ(ToPath(rig.app().record.m_logoFile), "logo.png");
    ASSERT_EQ(rig.app().record.m_logoData.size(), 1000u);

    // Opened again, the field shows the bare name, which does not open from
    // the current folder; the operator clears the field at the next round.
    rig.host.brandingRuns = 0;
    std::vector<u16> shownPaths;
    rig.host.brandingScript = [&](CBrandingDlg&, ControlSurface& surface, int) {
        shownPaths.push_back(surface.GetText(IdBrandLogoPath));
        if (rig.host.brandingRuns == 2) rig.host.brandingOperator->Type(IdBrandLogoPath, u"");
        return true;
    };
    rig.op().Click(IdBranding);
    ASSERT_EQ(shownPaths.size(), 2u);
    EXPECT_EQ(ToPath(shownPaths[0]), "logo.png");
    EXPECT_EQ(ToPath(shownPaths[1]), "logo.png") << "the edits keep their texts";
    const std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ToPath(boxes[0].text), "Unable to open file logo.png");
    EXPECT_EQ(boxes[0].style, kMbSimpleErrorStyle);
    EXPECT_EQ(ToPath(rig.app().record.m_logoFile), "");
    EXPECT_TRUE(rig.app().record.m_logoData.empty());
}

TEST_F(Branding, OnlyAPlainFileLoads) {
    // A FIFO would block a reader until a writer comes; a folder has no bytes.
    const std::string fifo = rig.dir / "logo.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = rig.dir / "logo.d";
    std::filesystem::create_directories(folder);
    for (const std::string& path : {fifo, folder}) {
        SCOPED_TRACE(path);
        rig.app_.presenter.Clear();
        rig.host.brandingRuns = 0;
        rig.host.openAnswers = {FromPath(path)};
        rig.host.brandingScript = [&](CBrandingDlg&, ControlSurface&, int) {
            if (rig.host.brandingRuns > 1) return false;
            rig.host.brandingOperator->Click(IdBrandBrowse);
            return true;
        };
        rig.op().Click(IdBranding);
        EXPECT_EQ(rig.host.brandingRuns, 2) << "the dialog opens again";
        const std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(ToPath(boxes[0].text), "Unable to open file " + path);
        EXPECT_EQ(ToPath(rig.app().record.m_logoFile), "");
    }
}

TEST_F(Branding, TextChecksKeepTheDialogOpen) {
    struct Row {
        const char* name;
        int id;
        u16 typed;
        const char* message;  // nullptr: accepted
    };
    const Row rows[] = {
        {"empty company", IdBrandCompanyName, u"", "Company Name cannot be empty."},
        {"tab in product", IdBrandProductName, u"Branch\tSBC",
         "Product Name contains invalid symbols."},
        {"allowed signs", IdBrandProductName, u"M\u00fcller \u2122\u00a9\u20ac\u00b5\u00df",
         nullptr},
        {"empty TLA", IdBrandTla, u"", "TLA cannot be empty."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        rig.app_.presenter.Clear();
        rig.host.brandingRuns = 0;
        const SetupRecord before = rig.app().record;
        int rounds = 0;
        rig.host.brandingScript = [&](CBrandingDlg&, ControlSurface&, int round) {
            rounds = round + 1;
            if (round > 0) return false;  // refused once: Cancel
            rig.host.brandingOperator->Type(row.id, row.typed);
            return true;
        };
        rig.op().Click(IdBranding);
        const std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
        if (row.message) {
            EXPECT_EQ(rounds, 2) << "OK was refused and the dialog stayed";
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(ToPath(boxes[0].text), row.message);
            EXPECT_EQ(boxes[0].caption, kApplicationTitle);
            EXPECT_EQ(rig.app().record.m_productName, before.m_productName);
            EXPECT_EQ(rig.app().record.m_companyName, before.m_companyName);
        } else {
            EXPECT_EQ(rounds, 1);
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(rig.app().record.m_productName, row.typed);
        }
    }
}

TEST_F(Branding, OverlongImportedTextGetsTheLengthMessage) {
    rig.app().record.m_tla = u16(301, u'a');
    std::vector<u16> typed;
    rig.host.brandingScript = [&](CBrandingDlg&, ControlSurface& surface, int round) {
        if (round == 0) {
            // The edit takes no more than its limit from the operator.
            rig.host.brandingOperator->Type(IdBrandCompanyName, u16(40, u'c'));
            typed.push_back(surface.GetText(IdBrandCompanyName));
            return true;
        }
        return false;
    };
    rig.op().Click(IdBranding);
    ASSERT_EQ(typed.size(), 1u);
    EXPECT_EQ(typed[0].size(), 33u);
    const std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ToPath(boxes[0].text), "Enter no more than 300 characters.");
    EXPECT_EQ(rig.app().record.m_tla.size(), 301u) << "Cancel leaves the record";
}

TEST_F(Branding, BrowseKeepsWhatWasTypedAndCancelChangesNothing) {
    const std::string logo = MakeLogo("brand.png", 10);
    rig.host.openAnswers = {FromPath(logo)};
    std::vector<u16> after;
    rig.host.brandingScript = [&](CBrandingDlg&, ControlSurface& surface, int) {
        // The empty company name fails its check when Browse saves the edits;
        // the product name typed after it must survive the browse.
        rig.host.brandingOperator->Type(IdBrandCompanyName, u"");
        rig.host.brandingOperator->Type(IdBrandProductName, u"New Product");
        rig.host.brandingOperator->Click(IdBrandBrowse);
        after = {surface.GetText(IdBrandCompanyName), surface.GetText(IdBrandProductName),
                 surface.GetText(IdBrandLogoPath)};
        return false;  // Cancel
    };
    rig.op().Click(IdBranding);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(ToPath(after[0]), "");
    EXPECT_EQ(ToPath(after[1]), "New Product");
    EXPECT_EQ(ToPath(after[2]), logo);
    const std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ToPath(boxes[0].text), "Company Name cannot be empty.");
    EXPECT_EQ(rig.app().record.m_companyName, kDefaultCompanyName);
    EXPECT_EQ(rig.app().record.m_productName, kDefaultProductName);
    EXPECT_EQ(ToPath(rig.app().record.m_logoFile), "");
    EXPECT_TRUE(rig.app().record.m_logoData.empty());
}

}  // namespace
}  // namespace flintmere::testing
