// The spoken answer to the Tire function on track: the most worn tire and the sets left.

#include <cwchar>

#include "plugin/analytics/analytics_calls.h"
#include "plugin/audio/voice.h"
#include "plugin/telemetry/catalogue.h"

namespace analytics {

void AdviseTireSets() {
    using namespace telemetry::vars;
    const double lf = LFwearR.readDouble();
    const double rf = RFwearL.readDouble();
    const double lr = LRwearR.readDouble();
    const double rr = RRwearL.readDouble();
    const double front = rf > lf ? lf : rf;
    const double rear = rr > lr ? lr : rr;
    const double worn = rear > front ? front : rear;

    // Made afresh on every request, so each looks its index up again. The sets used take no
    // part in the answer.
    telemetry::TelemetryVariable available("TireSetsAvailable");
    const int32_t remaining = available.readInt();

    wchar_t text[256];
    std::swprintf(
        text, 256,
        L"The last read tire observation most worn was %2.1f%%. Tire sets remaining is %d",
        worn * 100.0, remaining);
    audio::Speak(text);
}

}  // namespace analytics
