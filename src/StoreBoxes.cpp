#include "StoreBoxes.h"

#include "AnswerLog.h"

StoreBoxes::StoreBoxes() : store_(store::DefaultStorePath()) {}

std::vector<KnownBoxes::Moved> StoreBoxes::record(const std::vector<deviceinfo>& list) {
    std::vector<Moved> out;
    for (const store::Move& m : store_.Record(store::AnswerLog::Instance().Sightings(list), std::time(nullptr)))
        out.push_back({m.box.host, m.box.ip, m.from});
    return out;
}

std::optional<KnownBoxes::Facts> StoreBoxes::facts(const deviceinfo& record) {
    const std::optional<store::KnownBox> box = store_.Find(store::RecordKey(record));
    if (!box) return std::nullopt;
    return Facts{box->version, box->firstSeen, box->lastSeen};
}

std::vector<KnownBoxes::Problem> StoreBoxes::problems() {
    std::vector<Problem> out;
    for (const store::Notice& n : store_.TakeNotices())
        out.push_back({n.kind == store::Notice::Kind::Damaged, n.file, n.reason});
    return out;
}
