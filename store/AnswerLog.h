// What the engine's listener hears during one search, beside the device list:
// which identities answered from each address, and by which protocol. The
// list keeps one record per address and neither of these.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "BoxStore.h"
#include "Common/CommonStruct.h"

namespace store {

class AnswerLog {
public:
    static constexpr std::size_t kMaxAddresses = 4096;  // as many as the list holds
    static constexpr std::size_t kMaxKeysPerAddress = 4;

    // The one the engine's listener writes to.
    static AnswerLog& Instance();
    // For DeviceSearchDllInit: notes the record in Instance(). The worker on
    // port 67 decodes broadcast answers; every other one SSDP.
    static int Listener(void* record, int port);

    // Any thread.
    void Note(const deviceinfo& record, int port);
    // A new search: what came before no longer counts as seen together.
    void Reset();
    // The identities heard from ip since the last Reset.
    std::vector<std::string> KeysAt(const std::string& ip) const;
    // One sighting per box among the list's records with an IPv4 address
    // that answered since the last Reset. Records that share an identity are one box, counted at the
    // address it answered from last.
    std::vector<Sighting> Sightings(const std::vector<deviceinfo>& list) const;

private:
    struct Heard {
        std::vector<std::string> keys;
        std::string version;  // only SSDP answers carry one, and the list may hold the other record
        unsigned protocols = 0;
        std::uint64_t order = 0;  // of the latest answer
    };
    mutable std::mutex mutex_;
    std::map<std::string, Heard> byIp_;
    std::uint64_t count_ = 0;
};

// The record's key: upper-cased factory and id, as the list keys them.
std::string RecordKey(const deviceinfo& record);

}  // namespace store
