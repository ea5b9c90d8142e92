#include <string>
#include <vector>

#include "app/flintmere_app.h"

int main(int argc, char** argv) {
    flintmere::SystemClock clock;
    flintmere::ConsolePresenter presenter;
    flintmere::LinuxSystemEnv env;
    flintmere::CflintmereApp app({clock, presenter, env, {}});
    return app.InitInstance(std::vector<std::string>(argv + 1, argv + argc));
}
