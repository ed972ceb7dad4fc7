#include "SearchDeviceMulticastThread.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

#include "DottedQuad.h"
#include "SearchDeviceClient.h"
#include "ShowLog.h"

using SearchDeviceShowLog::io_printf;
namespace ip = boost::asio::ip;

namespace {

constexpr const char* kGroupAddress = "239.143.255.250";
constexpr unsigned short kGroupPort = 1900;
constexpr int kMaxRetries = 20;
constexpr std::size_t kFieldMax = 31;
constexpr std::size_t kProductPartMax = 63;

constexpr char kSearchRequest[] =
    "M-SEARCH * HTTP/1.1\r\n"
    "HOST: 239.143.255.250:1900\r\n"
    "ST: urn:schemas-upnp-org:device:LarkvatDevice:1\r\n"
    "MAN: \"ssdp:discover\"\r\n"
    "MX: 3\r\n"
    "\r\n";
static_assert(sizeof kSearchRequest == 130);

constexpr auto npos = std::string_view::npos;

// Copies text[from, to) into a zeroed field, at most max characters.
void copyCut(char* field, std::size_t max, std::string_view text, std::size_t from, std::size_t to) {
    std::size_t n = to - from < max ? to - from : max;
    std::memcpy(field, text.data() + from, n);
    field[n] = '\0';
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// string_view::find calls memchr once per occurrence of the needle's first
// letter, and answers are full of R and S: "RUZO" and "SERVER:" are looked
// for by the letter at `anchor`, which answers seldom hold. Candidates come
// in ascending order either way, so the first match is the same.
std::size_t findByLetter(std::string_view text, std::string_view needle, std::size_t from, std::size_t anchor) {
    if (from > text.size() || needle.size() > text.size() - from) return npos;
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - needle.size());  // last possible start
    const char* at = begin + from;
    while (at <= last) {
        const void* hit = std::memchr(at + anchor, needle[anchor], static_cast<std::size_t>(last - at) + 1);
        if (hit == nullptr) return npos;
        const char* start = static_cast<const char*>(hit) - anchor;
        if (std::memcmp(start, needle.data(), needle.size()) == 0) return static_cast<std::size_t>(start - begin);
        at = start + 1;
    }
    return npos;
}

// A LOCATION address ends at its port, its path, the line end or a blank.
std::size_t findAddressEnd(std::string_view text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':' || c == '/' || c == '\r' || c == '\n' || c == ' ') return i;
    }
    return npos;
}

// Some other socket holds the port when a bind without address reuse fails.
bool PortHeldElsewhere(boost::asio::io_service& io, unsigned short port) {
    boost::system::error_code ec;
    ip::udp::socket probe(io);
    probe.open(ip::udp::v4(), ec);
    if (ec) return false;
    probe.bind(ip::udp::endpoint(ip::address_v4::any(), port), ec);
    return ec == boost::asio::error::address_in_use;
}

}  // namespace

CSearchDeviceMulticastThread::CSearchDeviceMulticastThread() {}

CSearchDeviceMulticastThread::~CSearchDeviceMulticastThread() {}

void CSearchDeviceMulticastThread::InitSearchThread() { StartAndRetry(true); }

void CSearchDeviceMulticastThread::StartAndRetry(bool groupMember) {
    io_printf("SendThread %d : Create Search Device Work Thread   ", nPort);
    bool failed = false;
    try {
        socket.open(ip::udp::v4());
        if (groupMember) AlterMulticastGroupInfo(true);
        ip::address_v4 local = groupMember || strIP.empty() ? ip::address_v4::any() : ip::make_address_v4(strIP);
        const auto port = static_cast<unsigned short>(nPort);
        bShared = false;
        if (groupMember) {
            // SSDP listeners on Linux share the port with address reuse, so
            // that every one of them hears the group; a program that holds it
            // without reuse still makes this bind fail (and retry).
            bShared = PortHeldElsewhere(ioService, port);
            SetSocketOption(boost::asio::socket_base::reuse_address(true));
        }
        socket.bind(ip::udp::endpoint(local, port));
        if (bShared) io_printf("SendThread %d : Port %d Shared With Another Program  ", nPort, nPort);
        StartReceiveThread();
        RecordStartSuccess();
    } catch (const std::exception& e) {
        RecordStartFailure(e.what());
        failed = true;
    }
    if (failed && bRetry) HandleInitSearchThreadError();
}

void CSearchDeviceMulticastThread::ExitSearchThread() {
    AlterMulticastGroupInfo(false);
    LeaveExtraGroups();
    CSearchDeviceThread::ExitSearchThread();
}

void CSearchDeviceMulticastThread::JoinGroupOn(const std::string& localIP) {
    // A worker without a socket has nothing to join with.
    if (!bStarted || bExitSock) return;
    if (std::find(vJoinTried.begin(), vJoinTried.end(), localIP) != vJoinTried.end()) return;
    vJoinTried.push_back(localIP);
    try {
        SetSocketOption(ip::multicast::join_group(ip::make_address_v4(kGroupAddress), ip::make_address_v4(localIP)));
        vJoined.push_back(localIP);
        io_printf("SendThread %d : Add To Multicast Group Info, Interface : %s ", nPort, localIP.c_str());
    } catch (const boost::system::system_error& e) {
        // The any-interface join already took the default route's interface.
        if (e.code() == boost::asio::error::address_in_use)
            io_printf("SendThread %d : Add To Multicast Group Info, Interface : %s, Already Joined ", nPort,
                      localIP.c_str());
        else
            io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                      localIP.c_str(), e.what());
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                  localIP.c_str(), e.what());
    }
}

void CSearchDeviceMulticastThread::LeaveExtraGroups() {
    for (const std::string& localIP : vJoined) {
        try {
            SetSocketOption(
                ip::multicast::leave_group(ip::make_address_v4(kGroupAddress), ip::make_address_v4(localIP)));
            io_printf("SendThread %d : Leave To Multicast Group Info, Interface : %s ", nPort, localIP.c_str());
        } catch (const std::exception& e) {
            io_printf("SendThread %d : Alter Device Mulitcast Group Error, Interface : %s : %s  ", nPort,
                      localIP.c_str(), e.what());
        }
    }
    vJoined.clear();
}

int CSearchDeviceMulticastThread::SendSearchCommandToDevice(dhcppacket&) {
    io_printf("SendThread %d : Send Search Device Command  ", nPort);
    try {
        ip::udp::endpoint group(ip::make_address_v4(kGroupAddress), kGroupPort);
        SendDatagram(kSearchRequest, sizeof kSearchRequest - 1, group);
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Send Search Device Error : %s   ", nPort, e.what());
    }
    return 0;
}

void CSearchDeviceMulticastThread::AlterMulticastGroupInfo(bool join) {
    try {
        ip::address_v4 group = ip::make_address_v4(kGroupAddress);
        if (join) {
            SetSocketOption(ip::multicast::join_group(group, ip::address_v4::any()));
            io_printf("SendThread %d : Add To Multicast Group Info ", nPort);
        } else {
            SetSocketOption(ip::multicast::leave_group(group, ip::address_v4::any()));
            io_printf("SendThread %d : Leave To Multicast Group Info ", nPort);
        }
    } catch (const std::exception& e) {
        io_printf("SendThread %d : Alter Device Mulitcast Group Error : %s  \r\n", nPort, e.what());
    }
}

// Runs nested inside the failed start; testCount is never reset, so a
// worker gets at most kMaxRetries further ports over its whole life.
void CSearchDeviceMulticastThread::HandleInitSearchThreadError() {
    io_printf("SendThread %d : Handle Create Search Device Work Thread Error  ", nPort);
    if (testCount >= kMaxRetries) return;
    ++testCount;
    ++nPort;
    io_printf("SendThread %d : Test Create Search Device Work Thread, testCount = %d, port = %d  ", nPort,
              testCount, nPort);
    InitSearchThread();
}

std::string_view CSearchDeviceMulticastThread::SearchRequest() {
    return {kSearchRequest, sizeof kSearchRequest - 1};
}

char* CSearchDeviceMulticastThread::str_ltrim(char* text) {
    if (text == nullptr) return nullptr;
    while (isBlank(*text)) ++text;
    return text;
}

// Header names are found anywhere and case-sensitively; every search runs to
// the end of the text, which ends at the first zero byte or after length
// bytes, whichever comes first.
void CSearchDeviceMulticastThread::HandleReceiveInfo(char* data, int length, std::string& senderIP) {
    io_printf("SendThread %d : Handle Mulitcast Recive Information  ", nPort);
    if (data == nullptr || length <= 0) return;
    const std::string_view text(data, strnlen(data, static_cast<std::size_t>(length)));

    char id[32] = {}, ipText[32] = {}, host[32] = {}, product[32] = {}, extra[32] = {}, version[32] = {},
         factory[32] = {};
    char productPart[64] = {};
    std::int32_t type = 0;

    if (findByLetter(text, "RUZO", 0, 2) == npos) return;

    if (std::size_t location = text.find("LOCATION:"); location != npos) {
        std::size_t slashes = text.find("//", location);
        if (slashes == npos) return;
        std::size_t start = slashes + 2;
        // A LOCATION without a port ends its address at the path or the line.
        std::size_t end = findAddressEnd(text, start);
        if (end == npos) return;
        // The list merges by this text and the desktop opens it: a host name,
        // "127.1" or "1.2.3.4@evil" is no device address.
        if (!IsDottedQuad(text.substr(start, end - start))) return;
        copyCut(ipText, kFieldMax, text, start, end);
    } else {
        copyCut(ipText, kFieldMax, senderIP, 0, senderIP.size());
    }

    // SERVER: ... RUZO/<version>,<item>, <factory>/<host>/<product>[/<extra>]\r
    // Each missing piece ends this step; what was read so far is kept.
    do {
        std::size_t server = findByLetter(text, "SERVER:", 0, 3);
        if (server == npos) break;
        std::size_t marker = findByLetter(text, "RUZO/", server, 2);
        if (marker == npos) break;
        std::size_t versionStart = marker + 5;
        std::size_t comma1 = text.find(',', versionStart);
        if (comma1 == npos) break;
        copyCut(version, kFieldMax, text, versionStart, comma1);
        std::size_t comma2 = text.find(',', comma1 + 1);
        if (comma2 == npos) break;
        std::size_t partStart = comma2 + 2;
        std::size_t partEnd = text.find('\r', partStart);
        if (partEnd == npos) break;
        copyCut(productPart, kProductPartMax, text, partStart, partEnd);

        const std::string_view part(productPart);
        std::size_t slash1 = part.find('/');
        if (slash1 == npos) break;
        copyCut(factory, kFieldMax, part, 0, slash1);
        std::size_t slash2 = part.find('/', slash1 + 1);
        if (slash2 == npos) break;
        copyCut(host, kFieldMax, part, slash1 + 1, slash2);
        std::size_t slash3 = part.find('/', slash2 + 1);
        if (slash3 == npos) {
            copyCut(product, kFieldMax, part, slash2 + 1, part.size());
            break;
        }
        copyCut(product, kFieldMax, part, slash2 + 1, slash3);
        copyCut(extra, kFieldMax, part, slash3 + 1, part.size());
    } while (false);

    std::size_t usn = text.find("USN:");
    if (usn == npos) return;
    std::size_t uuid = text.find("uuid:", usn);
    if (uuid == npos) return;
    std::size_t idStart = uuid + 5;
    std::size_t idEnd = text.find("::", idStart);
    if (idEnd == npos) return;
    copyCut(id, kFieldMax, text, idStart, idEnd);

    if (text.starts_with("HTTP")) {
        type = kDeviceAnswer;
    } else if (text.starts_with("NOTIFY")) {
        if (text.find("rootdevice") == npos) return;
        std::size_t nts = text.find("NTS:");
        if (nts == npos) return;
        std::size_t value = nts + 4;
        while (value < text.size() && isBlank(text[value])) ++value;
        const std::string_view nt = text.substr(value);
        if (nt.starts_with("ssdp:alive"))
            type = kDeviceAlive;
        else if (nt.starts_with("ssdp:byebye"))
            type = kDeviceByebye;
    } else {
        return;
    }

    deviceinfo info;
    std::memcpy(info.id, id, sizeof id);
    std::memcpy(info.ip, ipText, sizeof ipText);
    std::memcpy(info.host, host, sizeof host);
    std::memcpy(info.product, product, sizeof product);
    std::memcpy(info.extra, extra, sizeof extra);
    std::memcpy(info.version, version, sizeof version);
    std::memcpy(info.factory, factory, sizeof factory);
    info.type = type;

    bool repeated;
    {
        std::lock_guard<std::mutex> lock(oldMutex);
        repeated = info.compare(oldDeviceInfo);
        if (!repeated) oldDeviceInfo = info;
    }
    if (repeated) {
        // Forgetting it lets the next copy through: of a run of identical
        // announcements every second one is dropped.
        ClearOldDeviceInfo();
        io_printf("SendThread %d : Handle Mulitcast Recive Information Fail : Old Device, type = %d ", nPort,
                  type);
        return;
    }
    io_printf("SendThread %d : Handle Mulitcast Recive Information Success, type = %d ", nPort, type);
    CSearchDeviceClient::HandleDeviceMessage(&info, sizeof info, nPort);
}
