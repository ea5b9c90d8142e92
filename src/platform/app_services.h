// The log, the message patterns and the platform services that every
// subsystem of the application object reaches through.
#pragma once

#include <cerrno>
#include <functional>
#include <string_view>

#include "platform/clock.h"
#include "platform/log_file.h"
#include "platform/presenter.h"
#include "platform/system_env.h"
#include "platform/text.h"

namespace flintmere {

struct PlatformServices {
    Clock& clock;
    Presenter& presenter;
    SystemEnv& env;
    // Receives PrintStdout's text; standard output when empty.
    std::function<void(std::string_view)> stdoutSink;
};

class AppServices {
  public:
    explicit AppServices(PlatformServices services);
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;
    virtual ~AppServices() = default;

    Clock& clock() { return services_.clock; }
    Presenter& presenter() { return services_.presenter; }
    SystemEnv& env() { return services_.env; }

    // "<temp>flintmere_YYYYmmddHHMMSS.log"; no log when there is no temporary folder.
    void OpenLog();

    void WriteLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    template <typename... Args>
    void WriteLogW(u16view format, const Args&... args) {
        WriteLogWText(FormatW(format, args...));
    }
    void WriteLogWText(u16view message);
    // One line as it is (Windows-1252), such as a line the stick writer logged.
    void WriteLogLine(std::string_view ansiMessage);
    // Receives each log line (Windows-1252, without time or line end) in
    // place of the log file: the stick writer hands its lines to the window.
    void SetLogSink(std::function<void(std::string_view)> sink) { logSink_ = std::move(sink); }

    // Logs "DisplayMessage(): Error: <text>" and shows it in an "Error" box.
    void DisplayMessage(const u16& text);
    // Logs and shows the system text of `error` (errno of the failing call).
    void DisplayErrorMessage(int error = errno);
    // Logs "<context>: <system text>" and shows the system text with the context as caption.
    void DisplayErrorMessageStr(const u16& context, int error = errno);
    void PrintStdout(const char* format, ...) __attribute__((format(printf, 2, 3)));

    static std::string SystemErrorText(int error);

    LogFile m_logFile;

  private:
    PlatformServices services_;
    std::function<void(std::string_view)> logSink_;
};

}  // namespace flintmere
