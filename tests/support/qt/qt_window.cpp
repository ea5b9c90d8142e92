#include "support/qt/qt_window.h"

#include <QTest>
#include <sstream>

#include "support/qt/qt_app.h"
#include "support/qt/qt_operator.h"
#include "ui/qt/main_dialog_widget.h"

namespace flintmere::testing {
namespace {

// The surface owns its window, so the harness keeps both by keeping it.
class OwningSurface final : public ui::qt::QtSurface {
  public:
    OwningSurface() : widget_(std::make_unique<ui::qt::MainDialogWidget>()) {
        Register(widget_->Controls());
    }
    ~OwningSurface() override { widget_.reset(); }
    ui::qt::MainDialogWidget& window() { return *widget_; }

  private:
    std::unique_ptr<ui::qt::MainDialogWidget> widget_;
};

std::string Describe(ui::qt::QtSurface& surface, const std::map<int, QWidget*>& controls) {
    std::ostringstream out;
    for (const auto& [id, widget] : controls) {
        out << id << ' ' << widget->metaObject()->className() << ' '
            << (surface.IsEnabled(id) ? 'E' : '-') << (surface.IsShown(id) ? 'S' : 'H')
            << (surface.IsChecked(id) ? 'C' : ' ') << " \"" << Utf16ToUtf8(surface.GetText(id))
            << "\"";
        if (surface.ComboCount(id) > 0) out << " sel=" << surface.ComboSelection(id);
        out << '\n';
    }
    return out.str();
}

}  // namespace

UiWindow MakeQtWindow(ui::EventSink& sink) {
    EnsureQtApp();
    auto surface = std::make_unique<OwningSurface>();
    OwningSurface* qt = surface.get();
    qt->SetSink(&sink);
    qt->window().onCancel = [&sink] {
        sink.OnControlEvent(ui::IdCancel, ui::ControlEvent::Clicked);
    };
    qt->window().move(0, 0);  // all of it on the offscreen screen, where the mouse reaches
    qt->window().show();
    qt->window().activateWindow();
    QApplication::setActiveWindow(&qt->window());
    (void)QTest::qWaitForWindowActive(&qt->window());

    UiWindow window;
    window.op = std::make_unique<QtOperator>(*qt);
    window.dump = [qt] { return Describe(*qt, qt->window().Controls()); };
    window.problems = [qt] {
        std::vector<std::string> problems;
        for (int id : qt->UnknownIds()) problems.push_back("unknown control " + std::to_string(id));
        return problems;
    };
    window.surface = std::move(surface);
    return window;
}

}  // namespace flintmere::testing
