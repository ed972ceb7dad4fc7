// nasscout-sim: plays storage devices on a simulated LAN for tests and demos.
#include "ConfigParser.h"
#include "DevicePlayer.h"
#include "Endpoint.h"
#include "Sender.h"
#include "SimError.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <sstream>

#ifndef NASSCOUT_VERSION
#define NASSCOUT_VERSION "0"
#endif

namespace {

const char* const kIntro =
    "nasscout-sim - a LAN simulator for nasscout.\n"
    "Plays network storage devices that answer the broadcast search (148-byte packet, UDP 67 -> 68)\n"
    "and the SSDP search (M-SEARCH to 239.143.255.250:1900), sends NOTIFY announcements, and replays\n"
    "raw or flooded datagrams. Run it only inside a lab of network namespaces (scripts/lab/lab.sh):\n"
    "  scripts/lab/lab.sh sh -c '$LAB_IN_LAN nasscout-sim run --config lan.json'";

const char* const kSafety =
    "\nSafety net: every command refuses to send to anything but 198.51.100.0/24, 203.0.113.0/24,\n"
    "198.18.10.0/24, 169.254.0.0/16, 239.143.255.250 and 255.255.255.255, and to send from an address\n"
    "outside the first four (device addresses included), so a mistake never reaches a real network.\n"
    "--allow-any-destination lifts both checks; use it only where no real network is attached.\n"
    "\nExit status: 0 done, 1 runtime error (port taken, send failed), 2 usage or configuration error.";

const char* const kRunFooter =
    "\nListens on 0.0.0.0:68 for broadcast requests (148 bytes, op 11) and on 0.0.0.0:1900, joined to\n"
    "239.143.255.250 on every interface that holds a device address, for M-SEARCH requests whose ST is\n"
    "urn:schemas-upnp-org:device:LarkvatDevice:1 or ssdp:all (both sockets with SO_REUSEADDR, so two\n"
    "simulators can share a LAN). A device answers only requests that arrived on the interface holding\n"
    "its address, unicast from its own address (ephemeral port) to the request's source address and port.\n"
    "A request sent unicast to a device address (from beyond a router) is answered by that device alone.\n"
    "When all listeners are up it writes \"ready\" to --ready-file and \"nasscout-sim: ready\" to stderr.\n"
    "\nConfiguration (JSON; // comments allowed; unknown keys are errors):\n"
    "  { \"devices\": [\n"
    "      { \"id\": \"A1B2C3\", \"address\": \"198.51.100.10\",      required\n"
    "        \"host\": \"nas-office\",                             default \"\"\n"
    "        \"maker\": \"ORVALE\", \"product\": \"DS-220\",           defaults ORVALE, SIM-1\n"
    "        \"version\": \"2.1.7\", \"extra\": \"rack\",              defaults 1.0, \"\" (no /extra)\n"
    "        \"protocols\": [\"broadcast\", \"ssdp\"],              default both\n"
    "        \"code\": 1,                 code byte of the broadcast answer, 0..255, default 1\n"
    "        \"delay\": 0.1,              seconds before answering, default 0\n"
    "        \"max_delay\": 0,            if > 0: random delay in [0, max_delay] instead\n"
    "        \"answers\": 0,              searches it answers (both kinds together): 0 unlimited, -1 never\n"
    "        \"announce\": [ {\"at\": 5.0, \"nts\": \"alive\"}, {\"at\": 20.0, \"nts\": \"byebye\"} ] } ],\n"
    "                                   NOTIFY \"NTS: ssdp:<nts>\" at seconds after start, whatever\n"
    "                                   \"protocols\" says; nts may be any text\n"
    "    \"generate\": [\n"
    "      { \"count\": 200, \"net\": \"198.51.100\", \"first\": 10,    devices at net.first, net.first+1, ...\n"
    "        \"id_prefix\": \"GEN\",                                ids GEN1, GEN2, ...; hosts gen-1, gen-2, ...\n"
    "        ... and any device key but id, address and host } ] }\n"
    "\nBroadcast answer: 148 bytes, op 12, the code, marker FF FF FF FF, and from offset 20 the text\n"
    "  id=<id>&host=<host>&vendor=<maker>&product=<product> (zero-padded, cut at 128 bytes).\n"
    "SSDP answer: HTTP/1.1 200 OK, CACHE-CONTROL, LOCATION: http://<address>:5000/desc.xml,\n"
    "  SERVER: Linux/5.10 RUZO/<version>, UPnP/1.0, <maker>/<host>/<product>[/<extra>], ST, USN: uuid:<id>::...\n"
    "NOTIFY: sent to 239.143.255.250:1900 from the device's address with TTL 1.\n"
    "\nExamples:\n"
    "  nasscout-sim run --config tools/sim/examples/office.json --verbose\n"
    "  nasscout-sim run --config lan.json --duration 30 --ready-file /tmp/sim.ready";

const char* const kRawFooter =
    "\nSends each FILE unchanged as one UDP datagram (0..65507 bytes) to IP:PORT; all files make a round,\n"
    "and the round is sent --repeat times, --interval seconds apart. --from binds the sending socket\n"
    "(SO_REUSEADDR, so ports such as 67 or 68 can be shared with other sockets that allow it).\n"
    "\nExamples:\n"
    "  nasscout-sim raw --to 198.51.100.1:67 --from 198.51.100.10:68 answer.bin\n"
    "  nasscout-sim raw --to 239.143.255.250:1900 --from 198.51.100.11 --repeat 3 --interval 0.5 notify.txt";

const char* const kFloodFooter =
    "\nSends N answers to IP:PORT, each with a distinct id (<id-prefix>1, <id-prefix>2, ...) and host\n"
    "(flood-1, flood-2, ...), product SIM-1, version 1.0, round-robin from the --from addresses (each\n"
    "must be local; default: every local address in 198.51.100.0/24 and 203.0.113.0/24, or else in\n"
    "198.18.10.0/24). An ssdp answer's LOCATION names its sending address. Prints \"sent N\" when done.\n"
    "\nExamples:\n"
    "  nasscout-sim flood --protocol broadcast --to 198.51.100.1:67 --count 1000\n"
    "  nasscout-sim flood --protocol ssdp --to 198.51.100.1:1900 --count 500 --rate 200 \\\n"
    "                     --from 198.51.100.10,198.51.100.11 --maker ACME --id-prefix X";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(kIntro, "nasscout-sim");
    app.footer(kSafety);
    app.set_version_flag("--version", std::string("nasscout-sim ") + NASSCOUT_VERSION);
    app.require_subcommand(1);

    bool allowAny = false;
    const auto addAllowAny = [&](CLI::App* command) {
        command->add_flag("--allow-any-destination", allowAny,
                          "Lift the safety net (see nasscout-sim --help); never near a real network");
    };

    std::string configPath, readyFile;
    std::optional<double> duration;
    bool verbose = false;
    CLI::App* run = app.add_subcommand("run", "Play the devices of a JSON configuration");
    run->footer(kRunFooter);
    run->add_option("--config", configPath, "JSON file describing the devices")->required();
    run->add_option("--duration", duration, "Stop after SECONDS (default: at SIGINT or SIGTERM)")
        ->check(CLI::Range(0.0, 1e6));
    run->add_option("--ready-file", readyFile, "Write \"ready\" here when every listener is up");
    run->add_flag("--verbose", verbose, "Log every request and answer to stderr");
    addAllowAny(run);

    std::string rawTo, rawFrom;
    RawOptions rawOptions;
    CLI::App* raw = app.add_subcommand("raw", "Send files as single datagrams");
    raw->footer(kRawFooter);
    raw->add_option("--to", rawTo, "Destination IP:PORT")->required();
    raw->add_option("--from", rawFrom, "Local IP[:PORT] to send from");
    raw->add_option("--repeat", rawOptions.repeat, "Send the files N times (default 1)")->check(CLI::Range(1L, 1000000L));
    raw->add_option("--interval", rawOptions.interval, "SECONDS between repeats (default 0)")
        ->check(CLI::Range(0.0, 1e6));
    raw->add_option("FILE", rawOptions.files, "Files, one datagram each")->required();
    addAllowAny(raw);

    std::string protocol, floodTo;
    std::vector<std::string> floodFrom;
    FloodOptions floodOptions;
    CLI::App* flood = app.add_subcommand("flood", "Send many distinct device answers");
    flood->footer(kFloodFooter);
    flood->add_option("--protocol", protocol, "broadcast or ssdp")
        ->required()
        ->check(CLI::IsMember({"broadcast", "ssdp"}));
    flood->add_option("--to", floodTo, "Destination IP:PORT")->required();
    flood->add_option("--count", floodOptions.count, "Number of answers N")->required()->check(CLI::Range(0L, 100000000L));
    flood->add_option("--rate", floodOptions.rate, "Answers per second (default: as fast as possible)")
        ->check(CLI::Range(0.001, 1e9));
    flood->add_option("--from", floodFrom, "Local IP[,IP...] to send from, round-robin")->delimiter(',');
    flood->add_option("--maker", floodOptions.maker, "Maker in every answer (default ORVALE)");
    flood->add_option("--id-prefix", floodOptions.idPrefix, "Id prefix (default FLOOD)");
    addAllowAny(flood);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& success) {
        return app.exit(success);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return SimError::kUsage;
    }

    try {
        if (*run) {
            PlayerOptions options;
            options.duration = duration;
            options.readyFile = readyFile;
            options.verbose = verbose;
            options.allowAnyDestination = allowAny;
            DevicePlayer(ConfigParser::load(configPath), options).run();
        } else if (*raw) {
            rawOptions.to = Endpoint::parse(rawTo, true, "--to");
            if (!rawFrom.empty()) rawOptions.from = Endpoint::parse(rawFrom, false, "--from");
            rawOptions.allowAnyDestination = allowAny;
            Sender::raw(rawOptions);
        } else if (*flood) {
            floodOptions.ssdp = protocol == "ssdp";
            floodOptions.to = Endpoint::parse(floodTo, true, "--to");
            for (const auto& text : floodFrom) {
                const auto address = Endpoint::parseAddress(text);
                if (!address) throw SimError(SimError::kUsage, "--from: not an IPv4 address: \"" + text + "\"");
                floodOptions.from.push_back(*address);
            }
            floodOptions.allowAnyDestination = allowAny;
            std::cout << "sent " << Sender::flood(floodOptions) << std::endl;
        }
    } catch (const SimError& error) {
        std::cerr << "nasscout-sim: " << error.what() << std::endl;
        return error.exitCode();
    } catch (const std::exception& error) {
        std::cerr << "nasscout-sim: " << error.what() << std::endl;
        return SimError::kRuntime;
    }
    return 0;
}
