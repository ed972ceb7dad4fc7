#include "Common/CommonStruct.h"

namespace {

// strncpy semantics over a whole field: text up to the terminator, then zeros.
void copyField(char (&dst)[32], const char (&src)[32]) { std::strncpy(dst, src, sizeof dst); }

bool sameField(const char (&a)[32], const char (&b)[32]) { return std::strncmp(a, b, 32) == 0; }

}  // namespace

bool deviceinfo::compare(deviceinfo other) const {
    return sameField(id, other.id) && sameField(ip, other.ip) && sameField(host, other.host) &&
           sameField(product, other.product) && sameField(extra, other.extra) &&
           sameField(version, other.version) && sameField(factory, other.factory) &&
           type == other.type;
}

void deviceinfo::alterValue(deviceinfo other) {
    copyField(id, other.id);
    copyField(ip, other.ip);
    copyField(host, other.host);
    copyField(product, other.product);
    copyField(extra, other.extra);
    copyField(version, other.version);
    copyField(factory, other.factory);
    lifetime = other.lifetime;
    type = other.type;
}

void deviceinfo::clear() { *this = deviceinfo{}; }
