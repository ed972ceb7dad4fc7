#include "Sender.h"

#include "Net/Ipv4.h"
#include "DestinationGuard.h"
#include "DeviceProfile.h"
#include "LocalAddresses.h"
#include "MessageBuilder.h"
#include "SimError.h"
#include "UdpSocket.h"

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

std::string readDatagram(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SimError(SimError::kUsage, "cannot read \"" + path + "\"");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > Sender::kMaxDatagram)
        throw SimError(SimError::kUsage, "\"" + path + "\" has " + std::to_string(bytes.size()) +
                                             " bytes; one UDP datagram holds at most 65507");
    return bytes;
}

// A socket bound to `local` that may broadcast and multicasts with TTL 1.
UdpSocket senderSocket(const Endpoint& local, bool reuse) {
    UdpSocket socket;
    if (reuse) socket.reuseAddress();
    socket.allowBroadcast();
    if (local.address != 0) socket.multicastFrom(local.address);
    socket.bind(local, "sending socket");
    return socket;
}

// A full transmit queue at top speed is no reason to give up.
int sendPatiently(UdpSocket& socket, const void* data, std::size_t size, const Endpoint& to) {
    for (int attempt = 0;; ++attempt) {
        const int error = socket.sendTo(data, size, to);
        if ((error != ENOBUFS && error != EAGAIN) || attempt == 1000) return error;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

void Sender::raw(const RawOptions& options) {
    const DestinationGuard guard(options.allowAnyDestination);
    guard.checkDestination(options.to.address);
    std::vector<std::string> datagrams;
    for (const auto& path : options.files) datagrams.push_back(readDatagram(path));

    const Endpoint local = options.from.value_or(Endpoint{});
    guard.checkSource(local.address != 0 ? local.address : UdpSocket::routeSource(options.to),
                      options.from ? "--from" : "the address the system would send from");
    UdpSocket socket = senderSocket(local, true);

    auto next = Clock::now();
    for (long round = 0; round < options.repeat; ++round) {
        if (round > 0) {
            next += seconds(options.interval);
            std::this_thread::sleep_until(next);
        }
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            const int error = sendPatiently(socket, datagrams[i].data(), datagrams[i].size(), options.to);
            if (error != 0)
                throw SimError(SimError::kRuntime, "sending \"" + options.files[i] + "\" to " + options.to.text() +
                                                       " failed: " + UdpSocket::errorText(error));
        }
    }
}

long Sender::flood(const FloodOptions& options) {
    const DestinationGuard guard(options.allowAnyDestination);
    guard.checkDestination(options.to.address);

    std::vector<std::uint32_t> sources = options.from;
    const auto local = LocalAddresses::list();
    if (sources.empty()) {
        // The two LAN subnets first: the LAN namespace also holds the router's
        // address on the routed subnet, which is no device.
        for (const bool routed : {false, true}) {
            for (const auto& address : local)
                if (DestinationGuard::isLabAddress(address.address) &&
                    DestinationGuard::isRoutedAddress(address.address) == routed)
                    sources.push_back(address.address);
            if (!sources.empty()) break;
        }
        if (sources.empty())
            throw SimError(SimError::kUsage,
                           "no local address in 198.51.100.0/24, 203.0.113.0/24 or 198.18.10.0/24 here; give --from");
    }
    std::vector<UdpSocket> sockets;
    for (const auto source : sources) {
        guard.checkSource(source, "--from");
        if (!LocalAddresses::find(local, source))
            throw SimError(SimError::kUsage, "--from " + net::Ipv4Text(source) + " is not on this host");
        sockets.push_back(senderSocket({source, 0}, false));
    }

    DeviceProfile device;
    device.maker = options.maker;
    const auto start = Clock::now();
    for (long n = 0; n < options.count; ++n) {
        if (options.rate > 0) std::this_thread::sleep_until(start + seconds(static_cast<double>(n) / options.rate));
        const std::size_t k = static_cast<std::size_t>(n) % sources.size();
        device.id = options.idPrefix + std::to_string(n + 1);
        device.host = "flood-" + std::to_string(n + 1);
        device.address = sources[k];
        int error = 0;
        if (options.ssdp) {
            const std::string text = MessageBuilder::ssdpAnswer(device);
            error = sendPatiently(sockets[k], text.data(), text.size(), options.to);
        } else {
            const auto bytes = MessageBuilder::broadcastAnswer(device);
            error = sendPatiently(sockets[k], bytes.data(), bytes.size(), options.to);
        }
        if (error != 0)
            throw SimError(SimError::kRuntime, "sending answer " + std::to_string(n + 1) + " to " +
                                                   options.to.text() + " failed: " + UdpSocket::errorText(error));
    }
    return options.count;
}
