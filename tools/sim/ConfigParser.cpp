#include "ConfigParser.h"

#include "Endpoint.h"
#include "SimError.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <sstream>

using nlohmann::json;

namespace {

// Delays and times far beyond any test would only overflow the clock.
constexpr double kMaxSeconds = 1e6;

[[noreturn]] void fail(const std::string& where, const std::string& why) {
    throw SimError(SimError::kUsage, where + ": " + why);
}

std::string shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

void rejectUnknownKeys(const json& object, const std::string& where, std::initializer_list<const char*> known) {
    for (const auto& item : object.items()) {
        bool found = false;
        for (const char* key : known) found = found || item.key() == key;
        if (!found) {
            std::string list;
            for (const char* key : known) list += std::string(list.empty() ? "" : ", ") + key;
            fail(where, "unknown key \"" + item.key() + "\" (known: " + list + ")");
        }
    }
}

std::string stringValue(const json& value, const std::string& where) {
    if (!value.is_string()) fail(where, "expected a text, got " + shown(value));
    return value.get<std::string>();
}

long long integerValue(const json& value, const std::string& where, long long min, long long max) {
    const auto range = "an integer " + std::to_string(min) + ".." + std::to_string(max);
    if (!value.is_number_integer()) fail(where, "expected " + range + ", got " + shown(value));
    if (value.is_number_unsigned() && value.get<unsigned long long>() > static_cast<unsigned long long>(max))
        fail(where, "expected " + range + ", got " + shown(value));
    const long long number = value.get<long long>();
    if (number < min || number > max) fail(where, "expected " + range + ", got " + shown(value));
    return number;
}

double secondsValue(const json& value, const std::string& where) {
    if (!value.is_number()) fail(where, "expected a number of seconds, got " + shown(value));
    const double seconds = value.get<double>();
    if (!(seconds >= 0 && seconds <= kMaxSeconds))
        fail(where, "expected seconds between 0 and 1000000, got " + shown(value));
    return seconds;
}

// The keys a device and a generate entry share.
void readCommonKey(const std::string& key, const json& value, const std::string& where, DeviceProfile& device) {
    if (key == "maker") device.maker = stringValue(value, where);
    else if (key == "product") device.product = stringValue(value, where);
    else if (key == "version") device.version = stringValue(value, where);
    else if (key == "extra") device.extra = stringValue(value, where);
    else if (key == "code") device.code = static_cast<int>(integerValue(value, where, 0, 255));
    else if (key == "delay") device.delay = secondsValue(value, where);
    else if (key == "max_delay") device.maxDelay = secondsValue(value, where);
    else if (key == "answers") device.answers = static_cast<int>(integerValue(value, where, -1, 1000000000));
    else if (key == "protocols") {
        if (!value.is_array()) fail(where, "expected a list such as [\"broadcast\", \"ssdp\"], got " + shown(value));
        device.broadcast = device.ssdp = false;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string name = stringValue(value[i], where + "[" + std::to_string(i) + "]");
            if (name == "broadcast") device.broadcast = true;
            else if (name == "ssdp") device.ssdp = true;
            else fail(where + "[" + std::to_string(i) + "]", "unknown protocol \"" + name + "\" (broadcast or ssdp)");
        }
    } else if (key == "announce") {
        if (!value.is_array()) fail(where, "expected a list of {\"at\": SECONDS, \"nts\": TEXT}, got " + shown(value));
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string at = where + "[" + std::to_string(i) + "]";
            const json& entry = value[i];
            if (!entry.is_object()) fail(at, "expected {\"at\": SECONDS, \"nts\": TEXT}, got " + shown(entry));
            rejectUnknownKeys(entry, at, {"at", "nts"});
            if (!entry.contains("at")) fail(at, "missing \"at\"");
            if (!entry.contains("nts")) fail(at, "missing \"nts\" (alive, byebye or any text)");
            device.announce.push_back({secondsValue(entry["at"], at + ".at"), stringValue(entry["nts"], at + ".nts")});
        }
    }
}

constexpr std::initializer_list<const char*> kCommonKeys = {"maker", "product", "version", "extra", "protocols",
                                                            "code", "delay", "max_delay", "answers", "announce"};

DeviceProfile readDevice(const json& object, const std::string& where) {
    if (!object.is_object()) fail(where, "expected an object, got " + shown(object));
    rejectUnknownKeys(object, where, {"id", "address", "host", "maker", "product", "version", "extra", "protocols",
                                      "code", "delay", "max_delay", "answers", "announce"});
    if (!object.contains("id")) fail(where, "missing \"id\"");
    if (!object.contains("address")) fail(where, "missing \"address\"");
    DeviceProfile device;
    for (const auto& item : object.items()) {
        const std::string at = where + "." + item.key();
        if (item.key() == "id") device.id = stringValue(item.value(), at);
        else if (item.key() == "host") device.host = stringValue(item.value(), at);
        else if (item.key() == "address") {
            const std::string text = stringValue(item.value(), at);
            const auto address = Endpoint::parseAddress(text);
            if (!address) fail(at, "not an IPv4 address: \"" + text + "\"");
            device.address = *address;
        } else readCommonKey(item.key(), item.value(), at, device);
    }
    return device;
}

void readGenerate(const json& object, const std::string& where, std::vector<DeviceProfile>& devices) {
    if (!object.is_object()) fail(where, "expected an object, got " + shown(object));
    std::initializer_list<const char*> known = {"count", "net", "first", "id_prefix", "maker", "product", "version",
                                                "extra", "protocols", "code", "delay", "max_delay", "answers",
                                                "announce"};
    rejectUnknownKeys(object, where, known);
    for (const char* key : {"count", "net", "first"})
        if (!object.contains(key)) fail(where, std::string("missing \"") + key + "\"");
    const long long count = integerValue(object["count"], where + ".count", 1, 254);
    const long long first = integerValue(object["first"], where + ".first", 1, 254);
    if (first + count - 1 > 254)
        fail(where, "first + count - 1 = " + std::to_string(first + count - 1) + " is beyond the last host number 254");
    const std::string net = stringValue(object["net"], where + ".net");
    const auto base = Endpoint::parseAddress(net + ".0");
    if (!base || net.find('.') == std::string::npos || std::count(net.begin(), net.end(), '.') != 2)
        fail(where + ".net", "expected the first three numbers of an address such as \"198.51.100\", got \"" + net + "\"");

    DeviceProfile pattern;
    std::string idPrefix = "GEN";
    for (const auto& item : object.items()) {
        const std::string at = where + "." + item.key();
        if (item.key() == "id_prefix") idPrefix = stringValue(item.value(), at);
        else readCommonKey(item.key(), item.value(), at, pattern);
    }
    for (long long n = 1; n <= count; ++n) {
        DeviceProfile device = pattern;
        device.id = idPrefix + std::to_string(n);
        device.host = "gen-" + std::to_string(n);
        device.address = *base + static_cast<std::uint32_t>(first + n - 1);
        devices.push_back(std::move(device));
    }
}

}  // namespace

std::vector<DeviceProfile> ConfigParser::parse(const std::string& jsonText) {
    json root;
    try {
        // Comments are accepted so that annotated examples load as they are.
        root = json::parse(jsonText, nullptr, true, true);
    } catch (const json::parse_error& error) {
        std::string why = error.what();
        if (const auto pos = why.find("parse error"); pos != std::string::npos) why = why.substr(pos);
        throw SimError(SimError::kUsage, "not valid JSON: " + why);
    }
    if (!root.is_object()) fail("top level", "expected an object with \"devices\" and/or \"generate\"");
    rejectUnknownKeys(root, "top level", {"devices", "generate"});

    std::vector<DeviceProfile> devices;
    for (const char* list : {"devices", "generate"}) {
        if (!root.contains(list)) continue;
        const json& entries = root[list];
        if (!entries.is_array()) fail(list, "expected a list, got " + shown(entries));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string where = std::string(list) + "[" + std::to_string(i) + "]";
            if (std::string(list) == "devices") devices.push_back(readDevice(entries[i], where));
            else readGenerate(entries[i], where, devices);
        }
    }
    return devices;
}

std::vector<DeviceProfile> ConfigParser::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SimError(SimError::kUsage, "cannot read the configuration \"" + path + "\"");
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return parse(text.str());
    } catch (const SimError& error) {
        throw SimError(error.exitCode(), path + ": " + error.what());
    }
}
