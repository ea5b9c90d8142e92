// Answers the real message boxes of a test and records what they said.
#pragma once

#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace flintmere::testing {

struct SeenBox {
    std::string caption;
    std::string text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    bool applicationModal;
};

class BoxWatcher {
  public:
    // `answer` picks the button for a box; default: its default button.
    BoxWatcher();
    std::vector<SeenBox> seen;
    std::function<QMessageBox::StandardButton(const SeenBox&)> answer;

  private:
    void Poll();
    QTimer timer_;
};

}  // namespace flintmere::testing
