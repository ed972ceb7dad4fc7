// Public C interface of the search engine.
#pragma once

#include "CommonStruct.h"

#ifdef __cplusplus
extern "C" {
#endif

// Starts the log (when log_on and a directory ending in '/' are given), then
// the search workers. callback receives every decoded record; it must not be
// null. multi_ip adds a search worker for every local IPv4 address. Returns 0.
int search_dll_init(int (*callback)(void*, int), bool log_on, const char* log_dir, bool multi_ip);

// Stops the workers (without waiting for their threads), then closes the log.
void search_dll_exit(void);

// One search on every worker. A null packet means the default broadcast
// request 0B 01 00 00 FF FF FF FF followed by 140 zero bytes. Returns 0.
int SendMessageToDevice(dhcppacket* packet);

#ifdef __cplusplus
}
#endif
