// qivro-engine run -c config.json: the engine as a program, for people, tests and benchmarks.
#include "common/log.h"
#include "engine.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_quit {false};

void onSignal(int)
{
    g_quit = true;
}

int usage()
{
    std::fprintf(stderr,
        "usage: qivro-engine run -c <config.json>\n"
        "       qivro-engine check -c <config.json>\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 || std::strcmp(argv[2], "-c") != 0)
        return usage();
    const std::string command = argv[1];
    const std::string path = argv[3];
    if (command == "check") {
        qivro::engine::Config config;
        std::string error;
        if (!qivro::engine::loadConfigFile(path, config, error)) {
            std::fprintf(stderr, "FATAL %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (command != "run")
        return usage();
    qivro::engine::Engine engine;
    const std::string error = engine.start(path);
    if (!error.empty()) {
        std::fprintf(stderr, "FATAL %s\n", error.c_str());
        return 1;
    }
    // The program (unlike the library) owns its process, so it may handle signals.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_quit)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    engine.stop();
    return 0;
}
