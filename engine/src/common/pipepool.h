// Pipes for splice(): a relay holds one only while bytes move through it, so an idle relayed
// connection costs its two sockets and nothing more. Each thread keeps a few spare pipes, which
// saves the system calls of making one whenever a quiet connection wakes up.
#pragma once

#if defined(__linux__)

namespace qivro::engine {

struct Pipe
{
    int read = -1;
    int write = -1;
    bool valid() const { return read >= 0; }
};

namespace pipes {

// A spare pipe of this thread or a new one; invalid when none can be made (descriptors ran out).
Pipe acquire();
// Keeps an empty pipe for reuse (or closes it when enough are spare); pipe becomes invalid.
void release(Pipe &pipe);
// Closes a pipe that may still hold bytes; pipe becomes invalid.
void destroy(Pipe &pipe);

} // namespace pipes

} // namespace qivro::engine

#endif
