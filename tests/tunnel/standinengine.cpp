// A stand-in for the engine library with the same entry points: start answers with the text in
// QIVRO_STANDIN_START, stop with QIVRO_STANDIN_STOP (unset: "", success). Built once more without
// stop, to stand for a library that lacks an entry point.
#include <cstdlib>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char *answer(const char *variable)
{
    const char *text = std::getenv(variable);
    return text ? text : "";
}

} // namespace

STANDIN_EXPORT const char *start(const char *configPathUtf8)
{
    return configPathUtf8 ? answer("QIVRO_STANDIN_START") : "no configuration path";
}

#ifndef STANDIN_WITHOUT_STOP
STANDIN_EXPORT const char *stop()
{
    return answer("QIVRO_STANDIN_STOP");
}
#endif
