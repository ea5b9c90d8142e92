#include "platform/app_services.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace flintmere {

AppServices::AppServices(PlatformServices services) : services_(std::move(services)) {}

void AppServices::OpenLog() {
    u16 temp = env().TempFolder();
    if (temp.empty()) return;
    std::time_t now = clock().Now();
    std::tm local{};
    ::tzset();
    ::localtime_r(&now, &local);
    char stamp[128] = {};
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    const std::string path = ToPath(temp) + "flintmere_" + stamp + ".log";
    if (!m_logFile.Open(path)) {
        // The run goes on without its log; the operator must know.
        const int error = errno;
        std::fprintf(stderr, "flintmere: no log is written: %s cannot be created: %s\n",
                     path.c_str(), SystemErrorText(error).c_str());
    }
}

void AppServices::WriteLog(const char* format, ...) {
    if (!m_logFile.IsOpen() && !logSink_) return;
    va_list ap;
    va_start(ap, format);
    std::string message = VFormatA(format, ap);
    va_end(ap);
    WriteLogLine(message);
}

void AppServices::WriteLogWText(u16view message) {
    if (!m_logFile.IsOpen() && !logSink_) return;
    WriteLogLine(Utf16ToAnsi(message));
}

void AppServices::WriteLogLine(std::string_view ansiMessage) {
    if (logSink_) {
        logSink_(ansiMessage);
    } else if (m_logFile.IsOpen()) {
        m_logFile.WriteLine(ansiMessage, clock().Now());
    }
}

void AppServices::DisplayMessage(const u16& text) {
    WriteLogW(u"DisplayMessage(): Error: %s", text);
    presenter().ShowMessage(text, u"Error", kMbWarningStyle);
}

std::string AppServices::SystemErrorText(int error) {
    char buf[256];
    // GNU strerror_r returns the text, which may not be in buf.
    const char* text = ::strerror_r(error, buf, sizeof buf);
    return text;
}

void AppServices::DisplayErrorMessage(int error) {
    std::string text = SystemErrorText(error);
    // The system's text is UTF-8 under a translated locale.
    WriteLogW(u"DisplayErrorMessage(): Error: %s", text);
    presenter().ShowMessage(Utf8ToUtf16(text), u"Error", kMbWarningStyle);
}

void AppServices::DisplayErrorMessageStr(const u16& context, int error) {
    u16 text = Utf8ToUtf16(SystemErrorText(error));
    WriteLogW(u"DisplayErrorMessageStr(): %s: %s", context, text);
    presenter().ShowMessage(text, context, kMbWarningStyle);
}

void AppServices::PrintStdout(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = VFormatA(format, ap);
    va_end(ap);
    if (services_.stdoutSink) {
        services_.stdoutSink(text);
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
}

}  // namespace flintmere
