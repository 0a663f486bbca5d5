// Requests as the plugin and the launcher send them (the report paths come from the plugin's
// own link), and as a broken client or a scanner on the internet might: the target, a line
// feed, then header lines.

#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/race_report_values.h"
#include "plugin/links/web_service_link.h"

fuzzing::Seeds racedata_request_fuzzSeeds() {
    const links::ReportValues v = fuzzing::raceInProgressValues();
    fuzzing::Seeds seeds;
    seeds.emplace_back("data-report",
                       links::DataReportPath(v) + "\nUser-Agent: QRD Transponder/1.0\n");
    seeds.emplace_back("lap-report", links::LapReportPath(v));
    seeds.emplace_back("tires", "/qrd/api.php?c=qrdtireschange&s=123456&r=51234567&f=3600");
    seeds.emplace_back("burn",
                       "/qrd/api.php?c=getpreviousfuelburn&cid=67&tid=239&did=123456&sft=1");
    seeds.emplace_back("weather", "/qrd/api.php?c=qrdweatherchange&s=123456&r=51234567&f=3600");
    seeds.emplace_back("version", "/qrd/getpubver.php?platform=Plugin");
    seeds.emplace_back("file", "/files/R3/Qm_Korvane_Plugin.ver");
    seeds.emplace_back("climb", "/files/R3/..%2F..%2Fetc%2Fpasswd");
    seeds.emplace_back("repeated", "/qrd/api.php?c=qrdtireschange&c=x&s=1&s=2");
    seeds.emplace_back("encoded", "/qrd/lap.php?sid=%31&sli=+4&sst=-0&tid=1e3");
    seeds.emplace_back("headers",
                       "/qrd/getpubver.php?platform=Launcher\nUser-Agent: WinHTTP Example/1.0\n"
                       "Accept: */*\nX-Forwarded-For: 10.0.0.1\n");
    seeds.emplace_back("spaces", "/qrd/api.php?c=qrd tireschange&s=1 HTTP/1.0");
    seeds.emplace_back("long", "/qrd/api.php?c=" + std::string(3000, 'a'));
    return seeds;
}
