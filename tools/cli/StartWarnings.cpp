#include "StartWarnings.h"

#include "Common/BindHelper.h"
#include "Common/SearchPorts.h"

namespace cli {
namespace {

bool Says(const std::string& error, const char* words) { return error.find(words) != std::string::npos; }

std::string Ports(int first, int last) {
    if (last <= first) return "UDP port " + std::to_string(first);
    return "UDP ports " + std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

std::string FirewallPorts() {
    return "UDP " + std::to_string(SearchPorts::kBroadcast) + ", " + std::to_string(SearchPorts::kMulticast) +
           " and " + std::to_string(SearchPorts::kFirstCommand) + " to " + std::to_string(SearchPorts::kLastCommand) +
           ", enough for " + std::to_string(SearchPorts::kCommandAddresses) + " local addresses";
}

std::string StartWarning(const SearchWorkerStatus& s, bool singleAddress) {
    // A sweep's own worker stands in for one warned about already.
    if (s.forSweeps) return {};
    if (s.started && s.shared && singleAddress && s.kind == SearchWorkerStatus::Kind::Multicast)
        return "nasscout-cli: warning: " + Ports(s.port, s.port) +
               " is shared with another SSDP program; answers to the search may reach that program "
               "instead, so devices may be missed.\n  Run without --single-address to search also from "
               "every local address, each on a port of its own.";
    if (s.started && !SearchPorts::Opened(s.port))
        return "nasscout-cli: warning: answers to the SSDP search from " +
               (s.localIP.empty() ? std::string("any address") : s.localIP) + " come to " + Ports(s.port, s.port) +
               ", which the packaged firewall rules do not open (" + FirewallPorts() +
               "); where a firewall uses them, devices on that network may be missed.\n  " +
               (s.kind == SearchWorkerStatus::Kind::Command
                    ? "Other programs hold the ports below it, or this machine has had more than " +
                          std::to_string(SearchPorts::kCommandAddresses) +
                          " local addresses since nasscout-cli started; stop those programs or start it again."
                    : std::string("Stop the program that holds UDP port 1900, or run without --single-address."));
    if (s.started) return {};
    const std::string reason = s.error.empty() ? "unknown error" : s.error;
    const bool denied = Says(s.error, "ermission") || Says(s.error, "not permitted");
    const bool taken = Says(s.error, "in use");
    std::string text = "nasscout-cli: warning: ";
    switch (s.kind) {
        case SearchWorkerStatus::Kind::Broadcast:
            text += "the broadcast search could not start on " + Ports(67, s.port) + " (" + reason +
                    "); devices that answer only the broadcast search will not be found.\n  ";
            if (taken)
                text +=
                    "Another program holds UDP port 67 (often a DHCP server); stop it to use the broadcast "
                    "search.";
            else
                text +=
                    "Port 67 needs privileges: run as root, or let the bind helper carry "
                    "cap_net_bind_service (the nasscout package sets it): sudo setcap "
                    "cap_net_bind_service=ep " +
                    std::string(BindHelperPath());
            break;
        case SearchWorkerStatus::Kind::Multicast:
            text += "the SSDP search could not start on " + Ports(1900, s.port) + " (" + reason +
                    "); device announcements (alive, byebye) will not be heard.\n  ";
            if (taken)
                text +=
                    "Another SSDP program holds the port (a media server or minissdpd, for example); stop "
                    "it.";
            else if (denied)
                text += "Run as root or check what forbids the program to open UDP sockets.";
            else
                text += "Check that the machine has an IPv4 network with multicast.";
            break;
        case SearchWorkerStatus::Kind::Command:
            text += "the SSDP search from " + s.localIP + " could not start (last tried " +
                    Ports(s.port, s.port) + ": " + reason + "); devices on that network may be missed.\n  ";
            if (taken)
                text += "Other programs hold the ports from 1530 upwards; stop them.";
            else
                text += "Check that the address " + s.localIP + " is still configured on this machine.";
            break;
    }
    return text;
}

std::string BroadcastSendWarning(const std::vector<SearchBroadcastSend>& sends, bool broadcastStarted) {
    if (!broadcastStarted) return {};
    const std::string lost =
        " devices that answer only the broadcast search may be missed there.\n  Run 'nasscout-cli doctor' to "
        "see why.";
    if (sends.empty())
        return "nasscout-cli: warning: no network interface can carry the broadcast search (none is up with an "
               "IPv4 address);" + lost;
    std::string failed;
    for (const SearchBroadcastSend& s : sends) {
        if (s.sent) continue;
        if (!failed.empty()) failed += ", ";
        failed += s.interfaceName + " (" + s.localIP + ": " + (s.error.empty() ? "unknown error" : s.error) + ")";
    }
    if (failed.empty()) return {};
    return "nasscout-cli: warning: the broadcast search could not be sent through " + failed + ";" + lost;
}

std::vector<std::string> StartWarningTracker::NewWarnings(const std::vector<SearchWorkerStatus>& statuses) {
    std::vector<std::string> out;
    for (; seen < statuses.size(); ++seen) {
        std::string text = StartWarning(statuses[seen], singleAddress);
        if (!text.empty()) out.push_back(std::move(text));
    }
    return out;
}

std::string SweepRefusedWarning(int result, const std::string& threadError) {
    std::string reason = "the search engine is not running (none of its sockets could be made)";
    if (!threadError.empty())
        reason = "no thread could be made for them (" + threadError + ")";
    else if (result == 1)
        reason = "the search engine holds none";
    return "nasscout-cli: warning: the targets were not asked: " + reason;
}

}  // namespace cli
