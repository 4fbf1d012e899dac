// The C boundary: no exception leaves it, and returned texts live in static storage.
#include "engine.h"
#include "qivroengine.h"

#include <mutex>
#include <string>

namespace {

std::mutex &apiMutex()
{
    static std::mutex mutex;
    return mutex;
}

qivro::engine::Engine &engine()
{
    static qivro::engine::Engine instance;
    return instance;
}

const char *keep(const std::string &text)
{
    static std::string result;
    result = text;
    return result.c_str();
}

} // namespace

extern "C" QIVRO_ENGINE_EXPORT const char *start(const char *configPathUtf8)
{
    try {
        std::lock_guard lock(apiMutex());
        if (!configPathUtf8)
            return keep("read config: no path given");
        return keep(engine().start(configPathUtf8));
    } catch (const std::exception &e) {
        try {
            engine().stop();
        } catch (...) { }
        return keep(std::string("start: ") + e.what());
    } catch (...) {
        return keep("start: unexpected failure");
    }
}

extern "C" QIVRO_ENGINE_EXPORT const char *stop(void)
{
    try {
        std::lock_guard lock(apiMutex());
        engine().stop();
        return keep("");
    } catch (const std::exception &e) {
        return keep(std::string("stop: ") + e.what());
    } catch (...) {
        return keep("stop: unexpected failure");
    }
}
