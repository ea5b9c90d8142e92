#include <string>
#include <vector>

#include "app/flintmere_app.h"

int main(int argc, char** argv) {
    flintmere::SystemClock clock;
    flintmere::ConsolePresenter console;
    // The window, when it opens, points this at its own boxes.
    flintmere::ForwardingPresenter presenter(console);
    flintmere::LinuxSystemEnv env;
    flintmere::CflintmereApp app({clock, presenter, env, {}});
    return app.InitInstance(std::vector<std::string>(argv + 1, argv + argc));
}
