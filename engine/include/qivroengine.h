// The two entry points the client calls. Returned texts live in static storage: never free them.
#pragma once

#if defined(_WIN32)
#if defined(QIVRO_ENGINE_BUILDING)
#define QIVRO_ENGINE_EXPORT __declspec(dllexport)
#else
#define QIVRO_ENGINE_EXPORT __declspec(dllimport)
#endif
#else
#define QIVRO_ENGINE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Reads the configuration at configPathUtf8, validates it, binds every listener and starts the
// worker threads. Returns "" once running, otherwise an error text.
QIVRO_ENGINE_EXPORT const char *start(const char *configPathUtf8);

// Closes listeners and connections and joins the threads. Returns ""; safe to call repeatedly.
QIVRO_ENGINE_EXPORT const char *stop(void);

#ifdef __cplusplus
}
#endif
