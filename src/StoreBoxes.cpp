#include "StoreBoxes.h"

#include "AnswerLog.h"

StoreBoxes::StoreBoxes() : store_(store::DefaultStorePath()) {}

std::vector<KnownBoxes::Moved> StoreBoxes::record(const std::vector<deviceinfo>& list) {
    std::vector<Moved> out;
    for (const store::Move& m :
         store_.Record(store::AnswerLog::Instance().Sightings(list), std::time(nullptr)))
        out.push_back({m.box.host, m.box.ip, m.from});
    facts_.clear();
    for (const store::KnownBox& box : store_.All())
        for (const std::string& key : box.keys) facts_[key] = {box.version, box.firstSeen, box.lastSeen};
    return out;
}

std::optional<KnownBoxes::Facts> StoreBoxes::facts(const deviceinfo& record) {
    const auto it = facts_.find(store::RecordKey(record));
    if (it == facts_.end()) return std::nullopt;
    return it->second;
}

std::vector<KnownBoxes::Problem> StoreBoxes::problems() {
    std::vector<Problem> out;
    for (const store::Notice& n : store_.TakeNotices())
        out.push_back({n.kind == store::Notice::Kind::Damaged, n.file, n.reason});
    return out;
}
