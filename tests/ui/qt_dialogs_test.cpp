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
#include <thread>

#include "support/fakes.h"
#include "support/qt/box_watcher.h"
#include "support/qt/qt_app.h"
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

TEST(QtFileDialogs, FiltersAsTheOperatorReadsThem) {
    const struct {
        const char16_t* name;
        const char16_t* pattern;
        const char* filter;
    } cases[] = {
        {u"ISO Files (*.iso)", u"*.iso", "ISO Files (*.iso)"},
        {u"database files", u"*.xml", "database files (*.xml)"},
        {u"config files", u"*.cfg", "config files (*.cfg)"},
        {u"All Files", u"*.*", "All Files (*)"},
    };
    for (const auto& c : cases) {
        ui::FileDialogRequest request;
        request.filterName = c.name;
        request.filterPattern = c.pattern;
        EXPECT_EQ(ui::qt::FileFilter(request).toStdString(), c.filter);
    }
}

// Picks `name` in the next open dialog once it lists it, and records what it offered.
void PickInOpenDialog(const QString& folder, const QString& name, QStringList& listed) {
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
        // The listing fills in the background; two seconds are plenty for two files.
        if (!view || (view->model()->rowCount(view->rootIndex()) < 2 && ++*polls < 100)) return;
        poll->stop();
        listed.clear();
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
            listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
        }
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    poll->start(20);
}

TEST(QtFileDialogs, AllFilesShowsNamesWithoutADot) {
    EnsureQtApp();
    TempDir dir;
    WriteFileBytes(dir / "README", "x");
    WriteFileBytes(dir / "logo.png", "x");
    ui::qt::MainDialogWidget owner;
    ui::qt::QtDialogHost host(owner);
    ui::FileDialogRequest request;
    request.filterName = u"All Files";
    request.filterPattern = u"*.*";
    request.mustExist = true;
    QStringList listed;
    PickInOpenDialog(QString::fromStdString(dir.Path()), QStringLiteral("README"), listed);
    const std::optional<u16> chosen = host.OpenFile(request);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(ToPath(*chosen), dir / "README");
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("README"), QStringLiteral("logo.png")}));
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
