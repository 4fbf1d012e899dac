#include "common/pipepool.h"

#if defined(__linux__)

#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace qivro::engine::pipes {

namespace {

constexpr std::size_t sparesKept = 16;

struct Spares
{
    std::vector<Pipe> pipes;
    ~Spares()
    {
        for (Pipe &pipe : pipes)
            destroy(pipe);
    }
};

thread_local Spares t_spares;

} // namespace

Pipe acquire()
{
    if (!t_spares.pipes.empty()) {
        const Pipe pipe = t_spares.pipes.back();
        t_spares.pipes.pop_back();
        return pipe;
    }
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return {};
    ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    return {fds[0], fds[1]};
}

void release(Pipe &pipe)
{
    if (!pipe.valid())
        return;
    if (t_spares.pipes.size() < sparesKept)
        t_spares.pipes.push_back(pipe);
    else
        destroy(pipe);
    pipe = {};
}

void destroy(Pipe &pipe)
{
    if (!pipe.valid())
        return;
    ::close(pipe.read);
    ::close(pipe.write);
    pipe = {};
}

} // namespace qivro::engine::pipes

#endif
