#pragma once

// The UDP ports the search receives its answers on, and so the ports the
// packaged firewall rules open: packaging/firewall/*.in are filled in from the
// literal numbers below when building, so keep each a plain number.
namespace SearchPorts {

constexpr int kBroadcast = 67;   // the broadcast worker: its request leaves from here, answers come back here
constexpr int kMulticast = 1900; // the group's announcements and the answers to its M-SEARCH
// One per-address worker per local address, each its own port: 1530, 1550, ...
constexpr int kFirstCommand = 1530;
constexpr int kCommandStep = 20;
// A worker whose port is in use moves up one port at a time, at most this
// often over its life: a worker given P may end up on any of P .. P+20.
constexpr int kMaxRetries = 20;
// How many local addresses the rules cover, every retry included. Ports are
// never reused, so this counts every address seen since the program started.
constexpr int kCommandAddresses = 16;
constexpr int kLastCommand = 1850;
static_assert(kLastCommand == kFirstCommand + (kCommandAddresses - 1) * kCommandStep + kMaxRetries);

// Whether the packaged rules let an answer to this local port in.
constexpr bool Opened(int port) {
    return port == kBroadcast || port == kMulticast || (port >= kFirstCommand && port <= kLastCommand);
}

}  // namespace SearchPorts
