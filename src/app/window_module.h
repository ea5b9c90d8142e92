// The one meeting point of the program and its window module
// (libflintmere-window.so beside the program). The module carries its own
// copy of the code below the window, so nothing but this plain C struct
// crosses between them: no C++ object, no exception, no allocation.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Raised whenever a field of FlintmereWindowHost changes meaning.
#define FLINTMERE_WINDOW_ABI 1
// The module's file, in the program's folder.
#define FLINTMERE_WINDOW_MODULE "libflintmere-window.so"
// The module's one entry point: int flintmere_window_run(const FlintmereWindowHost*).
#define FLINTMERE_WINDOW_ENTRY "flintmere_window_run"

struct FlintmereWindowHost {
    int abi;                 // FLINTMERE_WINDOW_ABI of the program
    const char* version;     // the program's version: the module must be of the same build
    const char* exeFolder;   // the installation folder (m_exeFolder), UTF-8
    const char* distFolder;  // its distribution folder (m_distFolder), UTF-8
    // Appends one line (Windows-1252, without time or line end) to the run's log.
    void (*writeLog)(void* context, const char* line, size_t length);
    void* logContext;
};

// Runs the window until it closes; returns the process exit status.
typedef int (*FlintmereWindowEntry)(const struct FlintmereWindowHost* host);

#ifdef __cplusplus
}
#endif
