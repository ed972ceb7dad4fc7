#include "DevicePlayer.h"

#include "Net/Ipv4.h"
#include "MessageBuilder.h"
#include "RequestClassifier.h"
#include "SimError.h"

#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>

namespace {

volatile sig_atomic_t g_stopSignal = 0;
void onStopSignal(int signal) { g_stopSignal = signal; }

constexpr std::uint16_t kBroadcastPort = 68;
constexpr std::uint16_t kSsdpPort = 1900;

const char* kindName(RequestClassifier::Kind kind) {
    return kind == RequestClassifier::Kind::Broadcast ? "broadcast" : "M-SEARCH";
}

// Many generated devices mean many sockets; lift the soft limit if we can.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

DevicePlayer::DevicePlayer(std::vector<DeviceProfile> devices, PlayerOptions options)
    : m_options(std::move(options)), m_guard(m_options.allowAnyDestination) {
    for (auto& profile : devices) {
        Device device;
        device.answersLeft = profile.answers == 0 ? -1 : std::max(profile.answers, 0);
        device.profile = std::move(profile);
        m_devices.push_back(std::move(device));
    }
}

void DevicePlayer::log(const std::string& line) const { std::cerr << "nasscout-sim: " << line << std::endl; }

std::string DevicePlayer::interfaceName(int index) const {
    char name[IF_NAMESIZE] = {};
    return ::if_indextoname(static_cast<unsigned>(index), name) ? name : "interface " + std::to_string(index);
}

void DevicePlayer::prepare() {
    raiseDescriptorLimit();
    m_local = LocalAddresses::list();
    bool anyBroadcast = false, anySsdp = false;
    std::set<int> interfaces;
    for (auto& device : m_devices) {
        const std::string name = "device \"" + device.profile.id + "\"";
        m_guard.checkSource(device.profile.address, name + " address");
        const auto local = LocalAddresses::find(m_local, device.profile.address);
        if (!local)
            throw SimError(SimError::kUsage, name + ": address " + net::Ipv4Text(device.profile.address) +
                                                 " is not on this host");
        device.interfaceIndex = local->interfaceIndex;
        interfaces.insert(local->interfaceIndex);
        anyBroadcast = anyBroadcast || device.profile.broadcast;
        anySsdp = anySsdp || device.profile.ssdp;

        if (!m_senders.contains(device.profile.address)) {
            UdpSocket sender;
            sender.multicastFrom(device.profile.address);
            sender.bind({device.profile.address, 0}, name + " socket");
            m_senders.emplace(device.profile.address, std::move(sender));
        }
    }
    // Listeners share their ports so that two simulators can play one LAN.
    if (anyBroadcast) {
        UdpSocket listener;
        listener.reuseAddress();
        listener.receivePacketInfo();
        listener.setNonBlocking();
        listener.bind({0, kBroadcastPort}, "broadcast listener");
        m_broadcastListener = std::move(listener);
    }
    if (anySsdp) {
        UdpSocket listener;
        listener.reuseAddress();
        listener.receivePacketInfo();
        listener.setNonBlocking();
        listener.bind({0, kSsdpPort}, "M-SEARCH listener");
        for (int index : interfaces) listener.joinGroup(DestinationGuard::kGroup, index);
        m_ssdpListener = std::move(listener);
    }
}

void DevicePlayer::writeReady() const {
    if (!m_options.readyFile.empty()) {
        // Written aside and renamed, so a waiting test never reads half a line.
        const std::string temporary = m_options.readyFile + ".tmp";
        {
            std::ofstream out(temporary, std::ios::trunc);
            out << "ready\n";
            if (!out.flush())
                throw SimError(SimError::kRuntime, "cannot write the ready file \"" + m_options.readyFile + "\"");
        }
        if (std::rename(temporary.c_str(), m_options.readyFile.c_str()) != 0)
            throw SimError(SimError::kRuntime, "cannot write the ready file \"" + m_options.readyFile +
                                                   "\": " + std::strerror(errno));
    }
    log("ready");
}

void DevicePlayer::schedule(Clock::time_point when, std::size_t device, Kind kind, const Endpoint& to,
                            std::string nts) {
    m_queue.push({when, m_order++, device, kind, to, std::move(nts)});
}

void DevicePlayer::onRequest(std::string_view datagram, const UdpSocket::Datagram& info) {
    const auto kind = RequestClassifier::classify(datagram);
    if (kind == RequestClassifier::Kind::None) {
        if (m_options.verbose)
            log("ignored " + std::to_string(info.size) + " bytes from " + info.from.text() + " on " +
                interfaceName(info.interfaceIndex));
        return;
    }
    if (m_options.verbose)
        log(std::string(kindName(kind)) + " request from " + info.from.text() + " on " +
            interfaceName(info.interfaceIndex));
    if (!m_guard.allowsDestination(info.from.address)) {
        log("not answering " + info.from.text() + ": " + DestinationGuard::refusalHint());
        return;
    }
    const auto now = Clock::now();
    // A request sent to one of this host's addresses is unicast: only the
    // devices playing that address hear it. Anything else (the limited or a
    // subnet's broadcast, the group) reaches every device on the network.
    const bool unicast = LocalAddresses::find(m_local, info.destination).has_value();
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        Device& device = m_devices[i];
        const bool speaks = kind == RequestClassifier::Kind::Broadcast ? device.profile.broadcast : device.profile.ssdp;
        // A device hears only the network its address is on.
        if (!speaks || device.interfaceIndex != info.interfaceIndex || device.answersLeft == 0) continue;
        if (unicast && device.profile.address != info.destination) continue;
        if (device.answersLeft > 0) --device.answersLeft;
        double delay = device.profile.delay;
        if (device.profile.maxDelay > 0) delay = std::uniform_real_distribution<double>(0, device.profile.maxDelay)(m_random);
        schedule(now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delay)), i,
                 kind == RequestClassifier::Kind::Broadcast ? Kind::BroadcastAnswer : Kind::SsdpAnswer, info.from);
    }
}

void DevicePlayer::send(const Pending& pending) {
    const DeviceProfile& profile = m_devices[pending.device].profile;
    UdpSocket& socket = m_senders.at(profile.address);
    int error = 0;
    std::string what;
    if (pending.kind == Kind::BroadcastAnswer) {
        const auto bytes = MessageBuilder::broadcastAnswer(profile);
        error = socket.sendTo(bytes.data(), bytes.size(), pending.to);
        what = "broadcast answer";
    } else {
        const std::string text = pending.kind == Kind::SsdpAnswer ? MessageBuilder::ssdpAnswer(profile)
                                                                  : MessageBuilder::ssdpNotify(profile, pending.nts);
        error = socket.sendTo(text.data(), text.size(), pending.to);
        what = pending.kind == Kind::SsdpAnswer ? "M-SEARCH answer" : "NOTIFY ssdp:" + pending.nts;
    }
    const std::string line = "device \"" + profile.id + "\" " + net::Ipv4Text(profile.address) + " -> " +
                             pending.to.text() + ": " + what;
    if (error != 0) log(line + " failed: " + UdpSocket::errorText(error));
    else if (m_options.verbose) log(line);
}

void DevicePlayer::sendDue(Clock::time_point now) {
    while (!m_queue.empty() && m_queue.top().when <= now) {
        const Pending pending = m_queue.top();
        m_queue.pop();
        send(pending);
    }
}

void DevicePlayer::receiveAll(UdpSocket& listener, char* buffer, std::size_t capacity) {
    while (const auto datagram = listener.receive(buffer, capacity))
        onRequest(std::string_view(buffer, std::min(datagram->size, capacity)), *datagram);
}

void DevicePlayer::run() {
    prepare();

    // Stop signals are blocked except while waiting, so none is lost between
    // the check and the wait.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    m_start = Clock::now();
    for (std::size_t i = 0; i < m_devices.size(); ++i)
        for (const auto& announcement : m_devices[i].profile.announce)
            schedule(m_start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(announcement.at)),
                     i, Kind::Notify, {DestinationGuard::kGroup, kSsdpPort}, announcement.nts);
    std::optional<Clock::time_point> end;
    if (m_options.duration)
        end = m_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*m_options.duration));

    writeReady();

    std::vector<char> buffer(65536);
    while (!g_stopSignal) {
        auto now = Clock::now();
        sendDue(now);
        if (end && now >= *end) break;

        std::optional<Clock::time_point> wake = end;
        if (!m_queue.empty() && (!wake || m_queue.top().when < *wake)) wake = m_queue.top().when;
        timespec timeout{};
        timespec* timeoutPointer = nullptr;
        if (wake) {
            const auto wait = std::max(Clock::duration::zero(), *wake - now);
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
            timeout.tv_sec = seconds.count();
            timeout.tv_nsec = std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count();
            timeoutPointer = &timeout;
        }
        pollfd fds[2] = {};
        nfds_t count = 0;
        UdpSocket* listeners[2] = {};
        for (auto* listener : {m_broadcastListener ? &*m_broadcastListener : nullptr,
                               m_ssdpListener ? &*m_ssdpListener : nullptr}) {
            if (!listener) continue;
            fds[count] = {listener->fd(), POLLIN, 0};
            listeners[count++] = listener;
        }
        const int ready = ::ppoll(fds, count, timeoutPointer, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw SimError(SimError::kRuntime, std::string("waiting for requests failed: ") + std::strerror(errno));
        }
        for (nfds_t i = 0; i < count; ++i)
            if (fds[i].revents & POLLIN) receiveAll(*listeners[i], buffer.data(), buffer.size());
    }
    sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
    if (m_options.verbose && g_stopSignal) log("stopped by signal " + std::to_string(g_stopSignal));
}
