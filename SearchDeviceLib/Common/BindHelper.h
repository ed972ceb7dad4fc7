#pragma once

// The one small program that may carry cap_net_bind_service: it binds
// 0.0.0.0:67 and hands the socket to the broadcast worker, so neither the
// window nor the CLI needs a capability. Its path is fixed when building.
#ifndef NASSCOUT_BIND_HELPER
#define NASSCOUT_BIND_HELPER "/usr/libexec/nasscout/nasscout-bind67"
#endif

inline const char* BindHelperPath() { return NASSCOUT_BIND_HELPER; }
