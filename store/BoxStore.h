// The boxes this user has seen, kept between runs in one SQLite file that
// several processes (a watch, the window, a scan) may write at once.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace store {

enum Protocol : unsigned { kBroadcast = 1, kSsdp = 2 };

// One box as it answered in one search. keys are "FACTORY\x1fID" (factory
// upper-cased): every identity it answered with at its address.
struct Sighting {
    std::vector<std::string> keys;
    std::string factory, id, host, product, version, ip;
    unsigned protocols = 0;
};

struct EarlierAddress {
    std::string ip;
    std::time_t lastSeen = 0;
};

struct KnownBox {
    std::string factory, id, host, product, version, ip;
    std::time_t firstSeen = 0, lastSeen = 0;
    unsigned protocols = 0;
    std::vector<EarlierAddress> addresses;  // most recent first, the last address not among them
    std::vector<std::string> keys;
};

// A remembered box that answered from another address than its last one.
struct Move {
    KnownBox box;  // as stored now, with the new address
    std::string from;
};

// Something the user should hear about once.
struct Notice {
    enum class Kind { Damaged, Unwritable } kind;
    std::string file;    // Damaged: where the old file went; Unwritable: the store
    std::string reason;  // Unwritable: why
};

std::string BoxKey(const std::string& factory, const std::string& id);

// $XDG_STATE_HOME/nasscout/boxes.db, else ~/.local/state/nasscout/boxes.db.
std::string DefaultStorePath();

class BoxStore {
public:
    static constexpr std::size_t kMaxBoxes = 1024;
    static constexpr std::size_t kMaxAddresses = 32;  // earlier ones per box

    // Opens (or creates, mode 0600, folders 0700) the file. Never fails: a
    // damaged file is set aside and replaced, an unusable one leaves the store
    // inert; either way TakeNotices() says so once.
    explicit BoxStore(std::string path);
    ~BoxStore();
    BoxStore(const BoxStore&) = delete;
    BoxStore& operator=(const BoxStore&) = delete;

    // Writes one search's boxes, all seen at `now`. Sightings whose keys
    // belong to one remembered box merge into it; a sighting joining two
    // remembered boxes makes them one. Returns the boxes that moved.
    std::vector<Move> Record(const std::vector<Sighting>& seen, std::time_t now);
    // Most recently seen first.
    std::vector<KnownBox> All();
    std::optional<KnownBox> Find(const std::string& key);
    // Removes these boxes (by a key of theirs); how many went.
    int Forget(const std::vector<std::string>& keys);
    int ForgetAll();

    // Problems not yet reported, each kind at most once per store.
    std::vector<Notice> TakeNotices();
    const std::string& path() const { return path_; }

private:
    bool Open();
    bool Usable();
    void Fail(int code, const char* what);
    void SetAside();
    bool Exec(const char* sql);
    long long BoxOf(const std::string& key);
    std::vector<KnownBox> Load(const char* where, const std::string& arg);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool broken_ = false;  // inert until the process ends
    bool damageReported_ = false, failureReported_ = false;
    std::vector<Notice> notices_;
};

// "2026-12-07T20:15:11Z"
std::string IsoUtc(std::time_t t);

}  // namespace store
