#include "BoxStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>

namespace store {
namespace {

constexpr int kBusyMs = 10000;  // a writer holds the lock for milliseconds; this only guards a hang
constexpr int kApplicationId = 0x4e415342;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS box(n INTEGER PRIMARY KEY, factory TEXT NOT NULL, id TEXT NOT NULL,"
    " host TEXT NOT NULL, product TEXT NOT NULL, version TEXT NOT NULL, ip TEXT NOT NULL,"
    " first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL, protocols INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS box_by_seen ON box(last_seen);"
    "CREATE TABLE IF NOT EXISTS box_key(key TEXT PRIMARY KEY,"
    " box INTEGER NOT NULL REFERENCES box(n) ON DELETE CASCADE) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS box_key_by_box ON box_key(box);"
    "CREATE TABLE IF NOT EXISTS address(box INTEGER NOT NULL REFERENCES box(n) ON DELETE CASCADE,"
    " ip TEXT NOT NULL, last_seen INTEGER NOT NULL, PRIMARY KEY(box, ip)) WITHOUT ROWID;";

// One prepared statement, finalized at the end of the scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, long long value) {
        sqlite3_bind_int64(stmt_, i, value);
        return *this;
    }
    // True while a row is there; a failure ends the walk and stays in rc().
    bool Step() {
        if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return false;
        rc_ = sqlite3_step(stmt_);
        if (rc_ == SQLITE_DONE) {
            sqlite3_reset(stmt_);
            rc_ = SQLITE_OK;
            return false;
        }
        return rc_ == SQLITE_ROW;
    }
    int Run() {
        while (Step()) {
        }
        return rc_;
    }
    std::string Text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }
    long long Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    int rc() const { return rc_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

bool Damaged(int rc) { return (rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB; }

// mkdir -p for the folders above path; the ones it makes are the user's alone.
bool MakeParents(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

std::string UtcStamp(std::time_t t, const char* format) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

}  // namespace

std::string BoxKey(const std::string& factory, const std::string& id) { return factory + '\x1f' + id; }

std::string IsoUtc(std::time_t t) { return UtcStamp(t, "%Y-%m-%dT%H:%M:%SZ"); }

std::string DefaultStorePath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    // Relative values are invalid and ignored.
    if (state != nullptr && state[0] == '/') return std::string(state) + "/nasscout/boxes.db";
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr && home[0] == '/' ? home : "";
    if (base.empty())
        if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) base = pw->pw_dir;
    return base + "/.local/state/nasscout/boxes.db";
}

BoxStore::BoxStore(std::string path) : path_(std::move(path)) { Open(); }

BoxStore::~BoxStore() { sqlite3_close_v2(db_); }

bool BoxStore::Open() {
    if (!MakeParents(path_)) {
        Fail(SQLITE_CANTOPEN, std::strerror(errno));
        return false;
    }
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        Fail(SQLITE_CANTOPEN, std::strerror(errno));
        return false;
    }
    struct stat info {};
    // It holds the user's networks and boxes: theirs alone, whatever made it.
    if (fstat(fd, &info) == 0 && (info.st_mode & 077) != 0) fchmod(fd, 0600);
    close(fd);

    int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        Fail(rc, sqlite3_errstr(rc));
        return false;
    }
    sqlite3_busy_timeout(db_, kBusyMs);
    sqlite3_extended_result_codes(db_, 1);
    // WAL: writers wait only for each other, readers never; the busy
    // timeout makes a second writer wait instead of failing.
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    // One read transaction: a process creating the tables right now is seen
    // either before or after, never half done.
    rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    std::string check;
    long long app = 0, tables = 0;
    if (rc == SQLITE_OK) {
        Statement quick(db_, "PRAGMA quick_check");
        if (quick.Step()) check = quick.Text(0);
        rc = quick.rc();
    }
    if (rc == SQLITE_OK || rc == SQLITE_ROW) {
        Statement mark(
            db_, "SELECT (SELECT count(*) FROM sqlite_schema), application_id FROM pragma_application_id");
        if (mark.Step()) {
            tables = mark.Int(0);
            app = mark.Int(1);
        }
        rc = mark.rc();
    }
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    // Another program's database, or ours in pieces.
    if (Damaged(rc) || (rc == SQLITE_ROW && (check != "ok" || (tables > 0 && app != kApplicationId)))) {
        SetAside();
        return !broken_ && Open();
    }
    if (rc != SQLITE_OK && rc != SQLITE_ROW) {
        Fail(rc, sqlite3_errstr(rc));
        return false;
    }
    return Exec("PRAGMA foreign_keys=ON") &&
           Exec(("BEGIN IMMEDIATE;" + std::string(kSchema) +
                 "PRAGMA application_id=" + std::to_string(kApplicationId) + ";COMMIT")
                    .c_str());
}

void BoxStore::SetAside() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (damageReported_) {  // the replacement is damaged as well: give up
        broken_ = true;
        Fail(SQLITE_CORRUPT, "the new store is damaged too");
        return;
    }
    const std::string aside = path_ + ".bad-" + UtcStamp(std::time(nullptr), "%Y%m%dT%H%M%SZ");
    if (std::rename(path_.c_str(), aside.c_str()) != 0) {
        broken_ = true;
        Fail(SQLITE_CANTOPEN, std::strerror(errno));
        return;
    }
    for (const char* part : {"-wal", "-shm"}) std::rename((path_ + part).c_str(), (aside + part).c_str());
    damageReported_ = true;
    notices_.push_back({Notice::Kind::Damaged, aside, {}});
}

void BoxStore::Fail(int code, const char* what) {
    if (Damaged(code) && db_ != nullptr) {
        SetAside();
        if (!broken_) Open();
        return;
    }
    if (failureReported_) return;
    failureReported_ = true;
    notices_.push_back({Notice::Kind::Unwritable, path_, what});
}

bool BoxStore::Usable() { return db_ != nullptr && !broken_; }

bool BoxStore::Exec(const char* sql) {
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return true;
    Fail(rc, sqlite3_errmsg(db_));
    return false;
}

std::vector<Notice> BoxStore::TakeNotices() { return std::exchange(notices_, {}); }

long long BoxStore::BoxOf(const std::string& key) {
    Statement s(db_, "SELECT box FROM box_key WHERE key=?");
    s.Bind(1, key);
    return s.Step() ? s.Int(0) : 0;
}

std::vector<Move> BoxStore::Record(const std::vector<Sighting>& seen, std::time_t now) {
    if (!Usable() || seen.empty()) return {};
    if (!Exec("BEGIN IMMEDIATE")) return {};
    std::map<long long, std::string> before;  // box -> its address when this search began
    int rc = SQLITE_OK;
    auto ok = [&rc](int r) {
        if (r != SQLITE_OK && rc == SQLITE_OK) rc = r;
        return rc == SQLITE_OK;
    };
    for (const Sighting& s : seen) {
        std::set<long long> boxes;
        for (const std::string& key : s.keys)
            if (long long n = BoxOf(key)) boxes.insert(n);
        long long target = 0;
        if (boxes.empty()) {
            Statement add(db_,
                          "INSERT INTO box(factory,id,host,product,version,ip,first_seen,last_seen,protocols)"
                          " VALUES(?,?,?,?,?,?,?,?,0)");
            add.Bind(1, s.factory).Bind(2, s.id).Bind(3, s.host).Bind(4, s.product).Bind(5, s.version);
            add.Bind(6, s.ip).Bind(7, static_cast<long long>(now)).Bind(8, static_cast<long long>(now));
            if (!ok(add.Run())) break;
            target = sqlite3_last_insert_rowid(db_);
            before.emplace(target, std::string());
        } else {
            // Identities seen together are one box: the most recently seen one takes in the others.
            std::string list;
            for (long long n : boxes) list += (list.empty() ? "" : ",") + std::to_string(n);
            Statement pick(
                db_,
                ("SELECT n, ip FROM box WHERE n IN (" + list + ") ORDER BY last_seen DESC, n DESC").c_str());
            std::vector<std::pair<long long, std::string>> found;
            while (pick.Step()) found.emplace_back(pick.Int(0), pick.Text(1));
            if (!ok(pick.rc()) || found.empty()) break;
            target = found.front().first;
            before.emplace(target, found.front().second);
            for (std::size_t k = 1; k < found.size(); ++k) {
                const long long other = found[k].first;
                Statement merge(
                    db_,
                    "INSERT INTO address(box,ip,last_seen) SELECT ?1, ip, last_seen FROM box WHERE n=?2"
                    " UNION ALL SELECT ?1, ip, last_seen FROM address WHERE box=?2"
                    " ON CONFLICT(box,ip) DO UPDATE SET last_seen=max(last_seen, excluded.last_seen)");
                merge.Bind(1, target).Bind(2, other);
                Statement keys(db_, "UPDATE box_key SET box=? WHERE box=?");
                keys.Bind(1, target).Bind(2, other);
                Statement take(
                    db_,
                    "UPDATE box SET first_seen=min(first_seen,(SELECT first_seen FROM box WHERE n=?2)),"
                    " protocols=protocols|(SELECT protocols FROM box WHERE n=?2) WHERE n=?1");
                take.Bind(1, target).Bind(2, other);
                Statement drop(db_, "DELETE FROM box WHERE n=?");
                drop.Bind(1, other);
                if (!ok(merge.Run()) || !ok(keys.Run()) || !ok(take.Run()) || !ok(drop.Run())) break;
                before.erase(other);
            }
            if (rc != SQLITE_OK) break;
            // The address it leaves becomes an earlier one, seen there when the box was last seen.
            Statement leave(db_,
                            "INSERT INTO address(box,ip,last_seen) SELECT n, ip, last_seen FROM box"
                            " WHERE n=? AND ip<>? AND ip<>''"
                            " ON CONFLICT(box,ip) DO UPDATE SET last_seen=excluded.last_seen");
            leave.Bind(1, target).Bind(2, s.ip);
            if (!ok(leave.Run())) break;
        }
        // Broadcast answers carry no version: an empty text keeps what is known.
        Statement update(db_,
                         "UPDATE box SET factory=?2, id=?3, host=coalesce(nullif(?4,''),host),"
                         " product=coalesce(nullif(?5,''),product), version=coalesce(nullif(?6,''),version),"
                         " ip=?7, last_seen=?8, protocols=protocols|?9 WHERE n=?1");
        update.Bind(1, target).Bind(2, s.factory).Bind(3, s.id).Bind(4, s.host).Bind(5, s.product);
        update.Bind(6, s.version).Bind(7, s.ip).Bind(8, static_cast<long long>(now));
        update.Bind(9, static_cast<long long>(s.protocols));
        Statement here(db_, "DELETE FROM address WHERE box=? AND ip=?");
        here.Bind(1, target).Bind(2, s.ip);
        Statement trim(db_,
                       "DELETE FROM address WHERE box=?1 AND ip NOT IN"
                       " (SELECT ip FROM address WHERE box=?1 ORDER BY last_seen DESC, ip LIMIT ?2)");
        trim.Bind(1, target).Bind(2, static_cast<long long>(kMaxAddresses));
        if (!ok(update.Run()) || !ok(here.Run()) || !ok(trim.Run())) break;
        for (const std::string& key : s.keys) {
            Statement name(
                db_,
                "INSERT INTO box_key(key,box) VALUES(?,?) ON CONFLICT(key) DO UPDATE SET box=excluded.box");
            name.Bind(1, key).Bind(2, target);
            if (!ok(name.Run())) break;
        }
        if (rc != SQLITE_OK) break;
    }
    if (rc == SQLITE_OK) {
        Statement bound(db_,
                        "DELETE FROM box WHERE n IN (SELECT n FROM box ORDER BY last_seen DESC, n DESC"
                        " LIMIT -1 OFFSET ?)");
        bound.Bind(1, static_cast<long long>(kMaxBoxes));
        ok(bound.Run());
    }
    if (rc != SQLITE_OK) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        Fail(rc, sqlite3_errstr(rc));
        return {};
    }
    if (!Exec("COMMIT")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return {};
    }
    std::vector<Move> moves;
    for (const auto& [n, ip] : before) {
        if (ip.empty()) continue;
        std::vector<KnownBox> now = Load("b.n=?", std::to_string(n));
        if (!now.empty() && now.front().ip != ip) moves.push_back({std::move(now.front()), ip});
    }
    return moves;
}

std::vector<KnownBox> BoxStore::Load(const char* where, const std::string& arg) {
    std::vector<KnownBox> out;
    if (!Usable()) return out;
    const std::string filter = where ? std::string(" WHERE ") + where : std::string();
    std::map<long long, std::size_t> index;
    {
        Statement s(db_,
                    ("SELECT n,factory,id,host,product,version,ip,first_seen,last_seen,protocols FROM box b" +
                     filter + " ORDER BY last_seen DESC, n DESC")
                        .c_str());
        if (where) s.Bind(1, arg);
        while (s.Step()) {
            index[s.Int(0)] = out.size();
            out.push_back({s.Text(1),
                           s.Text(2),
                           s.Text(3),
                           s.Text(4),
                           s.Text(5),
                           s.Text(6),
                           s.Int(7),
                           s.Int(8),
                           static_cast<unsigned>(s.Int(9)),
                           {},
                           {}});
        }
        if (s.rc() != SQLITE_OK) {
            Fail(s.rc(), sqlite3_errstr(s.rc()));
            return {};
        }
    }
    Statement a(db_, ("SELECT a.box, a.ip, a.last_seen FROM address a JOIN box b ON b.n=a.box" + filter +
                      " ORDER BY a.last_seen DESC, a.ip")
                         .c_str());
    if (where) a.Bind(1, arg);
    while (a.Step()) out[index[a.Int(0)]].addresses.push_back({a.Text(1), a.Int(2)});
    Statement k(
        db_,
        ("SELECT k.box, k.key FROM box_key k JOIN box b ON b.n=k.box" + filter + " ORDER BY k.key").c_str());
    if (where) k.Bind(1, arg);
    while (k.Step()) out[index[k.Int(0)]].keys.push_back(k.Text(1));
    return out;
}

std::vector<KnownBox> BoxStore::All() { return Load(nullptr, {}); }

std::optional<KnownBox> BoxStore::Find(const std::string& key) {
    std::vector<KnownBox> found = Load("b.n=(SELECT box FROM box_key WHERE key=?)", key);
    if (found.empty()) return std::nullopt;
    return std::move(found.front());
}

int BoxStore::Forget(const std::vector<std::string>& keys) {
    if (!Usable()) return 0;
    int gone = 0;
    for (const std::string& key : keys) {
        Statement s(db_, "DELETE FROM box WHERE n=(SELECT box FROM box_key WHERE key=?)");
        s.Bind(1, key);
        if (int rc = s.Run(); rc != SQLITE_OK) {
            Fail(rc, sqlite3_errstr(rc));
            break;
        }
        gone += sqlite3_changes(db_);
    }
    return gone;
}

int BoxStore::ForgetAll() {
    if (!Usable() || !Exec("DELETE FROM box")) return 0;
    return sqlite3_changes(db_);
}

}  // namespace store
