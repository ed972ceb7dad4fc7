#pragma once

#include <string>

// Read-only view of one search worker, for front ends that must tell the
// user why a search could not start (port 67 needs privileges, 1900 taken).
struct SearchWorkerStatus {
    enum class Kind { Broadcast, Multicast, Command };
    Kind kind = Kind::Broadcast;
    std::string localIP;  // empty for the any-address workers
    int port = 0;         // final port, after any retries
    bool started = false;
    std::string error;    // the last start error's text when !started
    bool shared = false;  // started on a port that another program holds too
    // Made by a target sweep because a search worker could not start; it
    // sends only the sweep's probes, on a port the system chose.
    bool forSweeps = false;
};

// How the last search's broadcast request left through one local interface,
// so front ends can say which network a broadcast-only box may hide on.
struct SearchBroadcastSend {
    std::string interfaceName;  // "eth0", "wlp2s0"
    std::string localIP;        // the source address the request carried
    bool sent = false;
    std::string error;          // the send error's text when !sent
};
