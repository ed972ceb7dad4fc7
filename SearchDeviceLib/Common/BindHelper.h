#pragma once

// clang-format off
#include <utility>  // before Asio: 1.74 uses std::exchange without it in C++20
// clang-format on

#include <boost/asio/ip/udp.hpp>

// The one small program that may carry cap_net_bind_service: it binds
// 0.0.0.0:67 and hands the socket over, so neither the window nor the CLI
// needs a capability. Where it lies next to the programs is fixed when
// building (NASSCOUT_BIND_HELPER, relative to the programs' directory): an
// installed program finds the helper installed with it, under any prefix.
const char* BindHelperPath();

// Runs the helper (no arguments, no environment, only the socket pair) and
// waits at most two seconds for its socket: the descriptor (close-on-exec),
// or -1 with errno saying why.
int AcquirePort67FromHelper();

// socket.bind(at), but where this user may not bind 0.0.0.0:67 (EACCES,
// EPERM), the helper's socket replaces the open one. Throws what the bind
// threw when the helper cannot help.
void BindOrAskHelper(boost::asio::ip::udp::socket& socket, const boost::asio::ip::udp::endpoint& at);
