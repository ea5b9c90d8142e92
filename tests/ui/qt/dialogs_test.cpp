// The boxes and the dialogs the logic opens, as real windows: styles mapped
// to icons and buttons, boxes asked for from a worker thread, the file
// dialogs' filters, and the branding dialog's OK that a failing check refuses.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <thread>

#include "support/fakes.h"
#include "support/qt/box_watcher.h"
#include "support/qt/qt_app.h"
#include "support/recording_presenter.h"
#include "ui/branding_dlg.h"
#include "ui/control_ids.h"
#include "ui/qt/main_dialog_widget.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/qt/qt_presenter.h"

namespace flintmere::testing {
namespace {

using ui::qt::QtPresenter;

struct StyleCase {
    unsigned style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    int answer;
};

class QtBoxes : public ::testing::TestWithParam<StyleCase> {
  protected:
    QApplication& app = EnsureQtApp();
};

TEST_P(QtBoxes, StyleGivesIconButtonsAndAnswer) {
    const StyleCase& c = GetParam();
    ui::qt::MainDialogWidget owner;
    QtPresenter boxes(&owner);
    BoxWatcher watcher;
    watcher.answer = [&](const SeenBox&) { return c.press; };
    EXPECT_EQ(boxes.ShowMessage(u"line one\rline two", u"Caption", c.style), c.answer);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].caption, "Caption");
    EXPECT_EQ(watcher.seen[0].text, "line one\nline two");
    EXPECT_EQ(watcher.seen[0].icon, c.icon);
    EXPECT_EQ(watcher.seen[0].buttons, c.buttons);
    EXPECT_TRUE(watcher.seen[0].applicationModal);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, QtBoxes,
    ::testing::Values(
        StyleCase{kMbWarningStyle, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, kIdOk},
        StyleCase{kMbYesNo | kMbIconWarning | kMbTaskModal | kMbSetForeground, QMessageBox::Warning,
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, kIdYes},
        StyleCase{kMbYesNo | kMbIconWarning, QMessageBox::Warning,
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No, kIdNo},
        StyleCase{0x10, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, kIdOk},
        StyleCase{0x30, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, kIdOk},
        StyleCase{0x40, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, kIdOk}));

TEST(QtBoxesFromWorker, ShowOnTheWindowThreadAndReturnTheAnswer) {
    EnsureQtApp();
    ui::qt::MainDialogWidget owner;
    QtPresenter boxes(&owner);
    BoxWatcher watcher;
    watcher.answer = [](const SeenBox&) { return QMessageBox::No; };
    int answer = 0;
    QEventLoop loop;
    std::thread worker([&] {
        answer = boxes.ShowMessage(u"Do you really want to continue?", u"USB Stick Setup",
                                   kMbYesNo | kMbIconWarning | kMbTaskModal | kMbSetForeground);
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    EXPECT_EQ(answer, kIdNo);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].caption, "USB Stick Setup");

    // While the window closes for good no box waits for an answer.
    boxes.SetQuitting(true);
    EXPECT_EQ(boxes.ShowMessage(u"q", u"USB Stick Setup", kMbYesNo), kIdNo);
    EXPECT_EQ(boxes.ShowMessage(u"m", u"Setup", kMbWarningStyle), kIdOk);
    QApplication::processEvents();
    EXPECT_EQ(watcher.seen.size(), 1u);
}

// Picks `name` in the next file dialog once it lists `rows` entries, and
// records what it offered; `inspect` sees the dialog first.
void PickInFileDialog(const QString& folder, const QString& name, QStringList& listed,
                      qsizetype rows, std::function<void(QFileDialog&)> inspect) {
    auto poll = std::make_shared<QTimer>();
    auto polls = std::make_shared<int>(0);
    QObject::connect(poll.get(), &QTimer::timeout, [=, &listed] {
        QFileDialog* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) dialog = d;
        }
        if (!dialog) return;
        dialog->setDirectory(folder);
        auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        // The listing fills in the background; two seconds are plenty for a few files.
        if (!view || (view->model()->rowCount(view->rootIndex()) < rows && ++*polls < 100)) return;
        poll->stop();
        listed.clear();
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
            listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
        }
        inspect(*dialog);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    poll->start(20);
}

// The dialog for each kind of request the window makes: open or save, the
// filter, the default suffix, and the overwrite question asked exactly when
// a save would replace a file the request protects.
TEST(QtFileDialogs, OptionsFollowTheRequest) {
    EnsureQtApp();
    TempDir dir;
    WriteFileBytes(dir / "old.iso", "x");
    WriteFileBytes(dir / "site.xml", "x");
    WriteFileBytes(dir / "README", "x");
    ui::FileDialogRequest iso;  // as OK asks for the image
    iso.filterName = u"ISO Files (*.iso)";
    iso.filterPattern = u"*.iso";
    iso.defaultExtension = u"iso";
    iso.overwritePrompt = true;
    iso.hideReadOnly = true;
    ui::FileDialogRequest unprotected = iso;
    unprotected.overwritePrompt = false;
    ui::FileDialogRequest db;  // as the database "..." asks
    db.filterName = u"database files";
    db.filterPattern = u"*.xml";
    db.mustExist = true;
    ui::FileDialogRequest logo;  // as the branding dialog's "..." asks
    logo.filterName = u"All Files";
    logo.filterPattern = u"*.*";
    logo.mustExist = true;
    const struct {
        const char* name;
        bool save;
        const ui::FileDialogRequest& request;
        const char* filter;
        QStringList shown;  // the files the filter lets through
        const char* typed;
        const char* chosen;
        int questions;
    } rows[] = {
        {"save-as over an image",
         true,
         iso,
         "ISO Files (*.iso)",
         {"old.iso"},
         "old.iso",
         "old.iso",
         1},
        {"save-as to a new name", true, iso, "ISO Files (*.iso)", {"old.iso"}, "new", "new.iso", 0},
        {"save without the question",
         true,
         unprotected,
         "ISO Files (*.iso)",
         {"old.iso"},
         "old.iso",
         "old.iso",
         0},
        {"open a database",
         false,
         db,
         "database files (*.xml)",
         {"site.xml"},
         "site.xml",
         "site.xml",
         0},
        // "*.*" shows names without a dot too.
        {"open any file",
         false,
         logo,
         "All Files (*)",
         {"README", "old.iso", "site.xml"},
         "README",
         "README",
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ui::qt::MainDialogWidget owner;
        ui::qt::QtDialogHost host(owner);
        BoxWatcher watcher;
        watcher.answer = [](const SeenBox&) { return QMessageBox::Yes; };
        QStringList listed;
        QFileDialog::AcceptMode accept{};
        QFileDialog::FileMode mode{};
        QStringList filters;
        QString suffix;
        PickInFileDialog(QString::fromStdString(dir.Path()), QString::fromUtf8(row.typed), listed,
                         row.shown.size(), [&](QFileDialog& d) {
                             accept = d.acceptMode();
                             mode = d.fileMode();
                             filters = d.nameFilters();
                             suffix = d.defaultSuffix();
                         });
        const std::optional<u16> chosen =
            row.save ? host.SaveFile(row.request) : host.OpenFile(row.request);
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(ToPath(*chosen), dir / row.chosen);
        EXPECT_EQ(static_cast<int>(watcher.seen.size()), row.questions);
        EXPECT_EQ(accept, row.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        EXPECT_EQ(mode, row.request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        EXPECT_EQ(filters, QStringList{QString::fromUtf8(row.filter)});
        EXPECT_EQ(suffix.toStdString(), ToPath(row.request.defaultExtension));
        listed.sort();
        EXPECT_EQ(listed, row.shown);
    }
}

TEST(QtBrandingDialog, OkWaitsForTextsThatPassTheirChecks) {
    EnsureQtApp();
    ui::qt::MainDialogWidget owner;
    ui::qt::QtDialogHost host(owner);
    RecordingPresenter boxes;
    ui::CBrandingDlg logic(u"Example", u"Branch SBC", u"TLA text", u"", boxes, host);
    int round = 0;
    auto poll = std::make_shared<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, [&, poll] {
        QDialog* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->windowTitle() == QStringLiteral("Branding") && w->isVisible()) {
                dialog = qobject_cast<QDialog*>(w);
            }
        }
        if (!dialog) return;
        auto edits = dialog->findChildren<QLineEdit*>();
        auto buttons = dialog->findChildren<QPushButton*>();
        QPushButton* ok = nullptr;
        for (QPushButton* b : buttons) {
            if (b->text() == QStringLiteral("OK")) ok = b;
        }
        ASSERT_NE(ok, nullptr);
        if (round == 0) {
            edits[0]->clear();  // Company Name
            QTest::mouseClick(ok, Qt::LeftButton);
            ++round;
        } else if (round == 1) {
            EXPECT_TRUE(dialog->isVisible()) << "a failing check keeps the dialog open";
            QTest::keyClicks(edits[0], QStringLiteral("Example Telecom"));
            QTest::mouseClick(ok, Qt::LeftButton);
            ++round;
            poll->stop();
        }
    });
    poll->start(20);
    EXPECT_TRUE(host.RunBranding(logic));
    EXPECT_EQ(round, 2);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, u"Company Name cannot be empty.");
    EXPECT_EQ(logic.m_dlgCompanyName, u"Example Telecom");
}

}  // namespace
}  // namespace flintmere::testing
