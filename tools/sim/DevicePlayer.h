// Plays the configured devices: listens for both searches, answers each from
// the device's own address after its delay, and sends the announcements.
// One thread; a poll loop with a timer queue.
#pragma once

#include "DestinationGuard.h"
#include "DeviceProfile.h"
#include "Endpoint.h"
#include "LocalAddresses.h"
#include "UdpSocket.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <queue>
#include <random>
#include <string>
#include <vector>

struct PlayerOptions {
    std::optional<double> duration;  // seconds; none: until SIGINT/SIGTERM
    std::string readyFile;
    bool verbose = false;
    bool allowAnyDestination = false;
};

class DevicePlayer {
public:
    DevicePlayer(std::vector<DeviceProfile> devices, PlayerOptions options);
    // Returns when the duration is over or a stop signal came. Throws SimError.
    void run();

private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { BroadcastAnswer, SsdpAnswer, Notify };

    struct Device {
        DeviceProfile profile;
        int interfaceIndex = 0;
        long answersLeft = 0;  // < 0: unlimited
    };
    struct Pending {
        Clock::time_point when;
        std::uint64_t order = 0;  // keeps equal times first-in, first-out
        std::size_t device = 0;
        Kind kind = Kind::BroadcastAnswer;
        Endpoint to;
        std::string nts;
        bool operator>(const Pending& other) const {
            return when != other.when ? when > other.when : order > other.order;
        }
    };

    void prepare();
    void writeReady() const;
    void receiveAll(UdpSocket& listener, char* buffer, std::size_t capacity);
    void onRequest(std::string_view datagram, const UdpSocket::Datagram& info);
    void schedule(Clock::time_point when, std::size_t device, Kind kind, const Endpoint& to, std::string nts = {});
    void sendDue(Clock::time_point now);
    void send(const Pending& pending);
    std::string interfaceName(int index) const;
    void log(const std::string& line) const;

    std::vector<Device> m_devices;
    PlayerOptions m_options;
    DestinationGuard m_guard;
    std::vector<LocalAddress> m_local;
    std::map<std::uint32_t, UdpSocket> m_senders;  // one per device address
    std::optional<UdpSocket> m_broadcastListener;
    std::optional<UdpSocket> m_ssdpListener;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> m_queue;
    std::uint64_t m_order = 0;
    Clock::time_point m_start;
    std::mt19937 m_random{std::random_device{}()};
};
