#pragma once

#include <map>

#include "BoxStore.h"
#include "platform/KnownBoxes.h"

// The known boxes in the user's store file, fed with what the engine's
// listener heard in the current search.
class StoreBoxes : public KnownBoxes {
public:
    StoreBoxes();
    std::vector<Moved> record(const std::vector<deviceinfo>& list) override;
    std::optional<Facts> facts(const deviceinfo& record) override;
    std::vector<Problem> problems() override;

private:
    store::BoxStore store_;
    std::map<std::string, Facts> facts_;  // by key, as of the last record: one read, not one per row
};
