// The race-data link on any answer the network can produce (a failure of each kind, any
// status, any body), and its reports with any values the race state may hold, read back by
// the race-data service's own parser.
//
// Checks: a query hands back this exchange's whole body up to its first NUL only when the
// exchange worked with a 2xx status, and "" otherwise (never an older answer); a report whose
// values are all finite numbers is accepted by the service with the same values.
//
// Input: one byte choosing the failure and the status, the report values' bytes, the body.

#include <httplib.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "plugin/links/web_service_link.h"
#include "support/fake_http_transport.h"
#include "tools/racedata/report_fields.h"

namespace {

using fuzzing::check;

void ignore(const char*) {}

platform::HttpResponse responseFor(uint8_t mode, const std::string& body) {
    using testsupport::FakeHttpTransport;
    static const int kStatuses[] = {200, 204, 299, 301, 404, 500, 503, 0};
    if ((mode & 3) == 1) {
        return FakeHttpTransport::failure(platform::HttpFailure::kConnect, 12029);
    }
    if ((mode & 3) == 2) {
        return FakeHttpTransport::failure(platform::HttpFailure::kReadData, 28);
    }
    if ((mode & 7) == 7) {
        return FakeHttpTransport::failure(platform::HttpFailure::kQueryData, 7);
    }
    return FakeHttpTransport::answer(body, kStatuses[(mode >> 3) & 7]);
}

bool finite(const links::ReportValues& v) {
    std::vector<double> reals = {v.TrackAirTemp,   v.TrackSurfaceTemp, v.AirTemp,
                                 v.TrackTempCrew,  v.FuelLevel,        v.FuelUsed,
                                 v.LitersToAdd,    v.FuelToFinish,     v.FuelBurnPerLap,
                                 v.FuelBurnPerMin, v.FuelLapsLeft,     v.FuelBurnMax};
    for (const auto& w : v.Wheels) {
        reals.insert(reals.end(), {w.Wear, w.CarcassTemp, w.PitPressure, w.ColdPressure});
    }
    return std::all_of(reals.begin(), reals.end(), [](double r) { return std::isfinite(r); });
}

void checkReport(const std::string& path, std::span<const racedata::Field> fields,
                 const links::ReportValues& v) {
    size_t q = path.find('?');
    check(q != std::string::npos, "a report without a query string", path);
    httplib::Params params;
    httplib::detail::parse_query_text(path.substr(q + 1), params);
    std::vector<racedata::FieldValue> values;
    const std::string why = racedata::parseFields(fields, params, values);
    check(why.empty(), "the service refuses a report of finite values", why + ": " + path);
    // The integer fields the report always leads with.
    const int64_t leading[] = {v.SubSessionID, v.SessionKind, v.SessionState,
                               v.TrackID,      v.CarID,       v.DriverUserID};
    for (size_t i = 0; i < 6; ++i) {
        check(values[i].integer == leading[i], "an integer field changed on the way", path);
    }
    const double fuelLevel = static_cast<double>(v.FuelLevel);
    check(std::fabs(values[16].real - fuelLevel) <= 0.0005 + std::fabs(fuelLevel) * 1e-12,
          "a real field changed on the way", path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testsupport::FakeHttpTransport http;
    static testsupport::ScopedHttpTransport useHttp(http);
    links::SetConsoleWriter(ignore);
    links::SetServiceEndpoint(platform::HttpEndpoint{});
    http.clear();

    fuzzing::Input in(data, size);
    const uint8_t mode = in.byte();
    links::ReportValues values = in.value<links::ReportValues>();
    const std::string body = in.rest();

    // The previous answer must never leak into this one.
    http.push(testsupport::FakeHttpTransport::answer("4"));
    links::QueryServiceCommand("qrdtireschange", 0);
    const platform::HttpResponse response = responseFor(mode, body);
    http.push(response);
    const char* reply = (mode & 0x40) ? links::QueryPreviousFuelBurn()
                                      : links::QueryServiceCommand("qrdweatherchange", 3600);
    check(reply == links::LastServiceReply(), "the reply is not the last reply");
    const bool good = response.ok() && response.status >= 200 && response.status <= 299;
    const std::string expected = good ? std::string(body.c_str()) : std::string();
    check(expected == reply,
          good ? "the reply is not the body" : "a failed exchange left an answer");

    http.setDefault(testsupport::FakeHttpTransport::answer(""));
    links::SendDataReport(values);
    links::SendLapReport(values);
    check(http.requests().size() == 4, "a report was not sent");
    if (finite(values)) {
        checkReport(links::DataReportPath(values), racedata::dataReportFields(), values);
        checkReport(links::LapReportPath(values), racedata::lapReportFields(), values);
    }
    return 0;
}
