#pragma once
// The two servers the TCP benchmark compares, each in a process of its own so that neither
// shares an address space, an allocator or a scheduler queue entry with the load
// generator: ours (TModbusTCPServer, one device, unit 1) and a minimal single-threaded
// reference on libmodbus. Both listen on a port the kernel picks and report it back.
//
// Both are forked before the parent starts any thread. Every child started here is
// remembered so that StopAllChildren can end it on any exit path, and each child also
// asks the kernel for SIGTERM should the parent die first.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace velkor {

struct TChildServer {
  std::string Name;
  pid_t Pid = -1;
  uint16_t Port = 0;
};

// Fork a server and wait (bounded) for its port; throw std::runtime_error on failure.
TChildServer StartOurServer();
TChildServer StartReferenceServer();

// SIGTERM, then waitpid with a bound; SIGKILL when the bound passes. Returns a note on
// anything unusual (empty when the child ended cleanly with status 0).
std::string StopChild(TChildServer& child);

// Empty while the child runs; otherwise how it ended (it is then reaped and forgotten).
std::string CheckChild(TChildServer& child);

// Ends every child still running; async-signal-safe (for signal handlers and atexit).
void StopAllChildren();

}  // namespace velkor
