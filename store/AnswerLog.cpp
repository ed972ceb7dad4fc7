#include "AnswerLog.h"

#include <arpa/inet.h>

#include <algorithm>

#include "Common/NoDestructor.h"

namespace store {
namespace {

template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

std::string RecordKey(const deviceinfo& record) {
    std::string factory = Text(record.factory);
    for (char& c : factory)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return BoxKey(factory, Text(record.id));
}

AnswerLog& AnswerLog::Instance() {
    // Workers may still hand over records while exit() runs destructors.
    static NoDestructor<AnswerLog> log;
    return log.get();
}

int AnswerLog::Listener(void* record, int port) {
    deviceinfo copy;
    std::memcpy(&copy, record, sizeof copy);
    TerminateDeviceTexts(copy);
    if (copy.type == kDeviceAnswer || copy.type == kDeviceAlive) Instance().Note(copy, port);
    return 0;
}

void AnswerLog::Note(const deviceinfo& record, int port) {
    const std::string ip = Text(record.ip), key = RecordKey(record);
    std::lock_guard lock(mutex_);
    auto it = byIp_.find(ip);
    if (it == byIp_.end()) {
        if (byIp_.size() >= kMaxAddresses) return;
        it = byIp_.emplace(ip, Heard{}).first;
    }
    Heard& heard = it->second;
    if (std::find(heard.keys.begin(), heard.keys.end(), key) == heard.keys.end() &&
        heard.keys.size() < kMaxKeysPerAddress)
        heard.keys.push_back(key);
    if (record.version[0] != '\0') heard.version = Text(record.version);
    heard.protocols |= port == 67 ? kBroadcast : kSsdp;
    heard.order = ++count_;
}

void AnswerLog::Reset() {
    std::lock_guard lock(mutex_);
    byIp_.clear();
}

std::vector<std::string> AnswerLog::KeysAt(const std::string& ip) const {
    std::lock_guard lock(mutex_);
    const auto it = byIp_.find(ip);
    return it == byIp_.end() ? std::vector<std::string>{} : it->second.keys;
}

std::vector<Sighting> AnswerLog::Sightings(const std::vector<deviceinfo>& list) const {
    struct Entry {
        Sighting sighting;
        std::uint64_t order;
    };
    std::vector<Entry> entries;
    {
        std::lock_guard lock(mutex_);
        for (const deviceinfo& d : list) {
            const auto it = byIp_.find(Text(d.ip));
            // The address text may come from the answer itself: only a plain
            // IPv4 address is kept, opened or printed for a shell.
            in_addr address{};
            if (it == byIp_.end() || inet_pton(AF_INET, it->first.c_str(), &address) != 1) continue;
            Sighting s;
            s.keys = it->second.keys;
            const std::string key = RecordKey(d);
            if (std::find(s.keys.begin(), s.keys.end(), key) == s.keys.end())
                s.keys.insert(s.keys.begin(), key);
            s.factory = key.substr(0, key.find('\x1f'));
            s.id = Text(d.id);
            s.host = Text(d.host);
            s.product = Text(d.product);
            s.version = d.version[0] != '\0' ? Text(d.version) : it->second.version;
            s.ip = Text(d.ip);
            s.protocols = it->second.protocols;
            entries.push_back({std::move(s), it->second.order});
        }
    }
    // Latest first, so that the first entry holding a key is the box's current address.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.order > b.order; });
    std::map<std::string, std::size_t> owner;
    std::vector<Sighting> out;
    for (Entry& e : entries) {
        std::size_t into = out.size();
        for (const std::string& key : e.sighting.keys)
            if (auto it = owner.find(key); it != owner.end()) into = std::min(into, it->second);
        if (into == out.size()) {
            out.push_back(std::move(e.sighting));
        } else {
            Sighting& kept = out[into];
            for (const std::string& key : e.sighting.keys)
                if (std::find(kept.keys.begin(), kept.keys.end(), key) == kept.keys.end())
                    kept.keys.push_back(key);
            kept.protocols |= e.sighting.protocols;
        }
        for (const std::string& key : out[into].keys) owner.emplace(key, into);
    }
    // Oldest answer first: the store writes them in that order.
    std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace store
