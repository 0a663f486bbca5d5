#include "tools/simfeed/feed_options.h"

#include "plugin/telemetry/block_layout.h"
#include "tools/simfeed/ini_file.h"

namespace simfeed {

namespace {

std::optional<double> seconds(const std::string& text) {
    auto v = parseDouble(text);
    if (!v || *v < 0 || *v > 1e7) {
        return std::nullopt;
    }
    return v;
}

}  // namespace

std::string feedUsage() {
    return "usage: Qm_Korvane_SimFeed [options]\n"
           "  --scenario NAME|FILE   scenario to simulate (default one_stop); a name is looked up\n"
           "                         as scenarios/NAME.ini beside the program\n"
           "  --time-scale X         simulated seconds per real second (default: the scenario's)\n"
           "  --seed N               replaces the scenario's seed\n"
           "  --run-seconds S        stop after S seconds\n"
           "  --until-end            stop once the last session (or the replay) has ended\n"
           "  --connect-after S      start with no simulator; appear after S seconds\n"
           "  --disconnect AT:BACK   clear the connected bit at AT, set it again at BACK seconds\n"
           "                         (the tick count restarts); may be repeated\n"
           "  --freeze AT:SECONDS    publish no new row for SECONDS from AT; may be repeated\n"
           "  --replay FILE.ibt      publish a recorded telemetry file at its recorded rate\n"
           "  --loop                 with --replay: start over at the end\n"
           "  --record FILE.ibt      write every published row to a telemetry file\n"
           "  --log FILE             log of the pit commands received\n"
           "  --truth FILE           the race's true fuel, distance and stops, for a judge\n"
           "                         (default Qm_Korvane_SimFeed.log)\n"
           "  --channel NAME         pit-command channel (default IRSDK_BROADCASTMSG)\n"
           "  --block NAME           telemetry block name (default Local\\IRSDKMemMapFileName)\n"
           "  --event NAME           data-valid event name (default Local\\IRSDKDataValidEvent,\n"
           "                         or NAME of --block followed by DataValidEvent)\n"
           "  --field N              cars in the field, 1 to 64 (default: the scenario's)\n"
           "  --print-session-text SCENARIO\n"
           "                         print the scenario's session text at the start, then exit\n"
           "  --stop-file FILE       stop when FILE exists\n"
           "  --no-keyboard          a key does not stop the feed\n"
           "  --quiet                no status line\n"
           "All times are real seconds from the start. Ctrl-C or a key stops the feed.\n";
}

ParsedOptions parseFeedOptions(const std::vector<std::string>& args) {
    ParsedOptions out;
    FeedOptions o;
    auto fail = [&](const std::string& why) {
        out.error = why;
        return out;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        auto window = [&](bool length) -> std::optional<TimeWindow> {
            auto v = next();
            if (!v) {
                return std::nullopt;
            }
            size_t colon = v->find(':');
            if (colon == std::string::npos) {
                return std::nullopt;
            }
            auto at = seconds(v->substr(0, colon));
            auto second = seconds(v->substr(colon + 1));
            if (!at || !second) {
                return std::nullopt;
            }
            TimeWindow w{*at, length ? *at + *second : *second};
            if (w.until <= w.at) {
                return std::nullopt;
            }
            return w;
        };
        if (a == "--help" || a == "-h" || a == "/?") {
            o.help = true;
        } else if (a == "--scenario") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--scenario needs a name or a file");
            }
            o.scenario = *v;
        } else if (a == "--time-scale") {
            auto v = next();
            auto d = v ? parseDouble(*v) : std::nullopt;
            if (!d || *d <= 0 || *d > 1000) {
                return fail("--time-scale needs a factor above 0 and at most 1000");
            }
            o.timeScale = *d;
        } else if (a == "--seed") {
            auto v = next();
            auto n = v ? parseInt(*v) : std::nullopt;
            if (!n) {
                return fail("--seed needs a whole number");
            }
            o.seed = *n;
        } else if (a == "--run-seconds") {
            auto v = next();
            auto s = v ? seconds(*v) : std::nullopt;
            if (!s || *s <= 0) {
                return fail("--run-seconds needs a number of seconds above 0");
            }
            o.runSeconds = *s;
        } else if (a == "--until-end") {
            o.untilEnd = true;
        } else if (a == "--connect-after") {
            auto v = next();
            auto s = v ? seconds(*v) : std::nullopt;
            if (!s) {
                return fail("--connect-after needs a number of seconds");
            }
            o.connectAfter = *s;
        } else if (a == "--disconnect") {
            auto w = window(false);
            if (!w) {
                return fail("--disconnect needs AT:BACK, two times in seconds with BACK after AT");
            }
            o.disconnects.push_back(*w);
        } else if (a == "--freeze") {
            auto w = window(true);
            if (!w) {
                return fail("--freeze needs AT:SECONDS, a start time and a length above 0");
            }
            o.freezes.push_back(*w);
        } else if (a == "--replay") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--replay needs a telemetry file");
            }
            o.replay = *v;
        } else if (a == "--loop") {
            o.loop = true;
        } else if (a == "--record") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--record needs a file name");
            }
            o.record = *v;
        } else if (a == "--log") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--log needs a file name");
            }
            o.logPath = *v;
        } else if (a == "--truth") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--truth needs a file name");
            }
            o.truthPath = *v;
        } else if (a == "--channel") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--channel needs a name");
            }
            o.channel = *v;
        } else if (a == "--block" || a == "--event") {
            auto v = next();
            if (!v || v->empty()) {
                return fail(a + " needs a name");
            }
            (a == "--block" ? o.blockName : o.eventName) = *v;
        } else if (a == "--field") {
            auto v = next();
            auto n = v ? parseInt(*v) : std::nullopt;
            if (!n || *n < 1 || *n > 64) {
                return fail("--field needs a number of cars from 1 to 64");
            }
            o.fieldSize = *n;
        } else if (a == "--print-session-text") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--print-session-text needs a scenario name or file");
            }
            o.scenario = *v;
            o.printSessionText = true;
        } else if (a == "--stop-file") {
            auto v = next();
            if (!v || v->empty()) {
                return fail("--stop-file needs a file name");
            }
            o.stopFile = *v;
        } else if (a == "--no-keyboard") {
            o.keyboard = false;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else {
            return fail("unknown option '" + a + "'");
        }
    }
    if (o.loop && o.replay.empty()) {
        return fail("--loop only goes with --replay");
    }
    if (!o.record.empty() && o.record == o.replay) {
        return fail("--record and --replay name the same file");
    }
    if (o.printSessionText && !o.replay.empty()) {
        return fail("--print-session-text and --replay do not go together");
    }
    out.options = o;
    return out;
}

namespace {

// "NAME" and "Local\NAME" both name the block of this session, as the simulator's do.
std::string localName(const std::string& name) {
    return name.find('\\') == std::string::npos ? "Local\\" + name : name;
}

}  // namespace

std::string feedBlockName(const FeedOptions& o) {
    return o.blockName.empty() ? std::string(telemetry::kMemMapName) : localName(o.blockName);
}

std::string feedEventName(const FeedOptions& o) {
    if (!o.eventName.empty()) {
        return localName(o.eventName);
    }
    if (!o.blockName.empty()) {
        return localName(o.blockName) + "DataValidEvent";
    }
    return telemetry::kDataValidEventName;
}

}  // namespace simfeed
