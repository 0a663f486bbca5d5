#pragma once
// The race report page: one self-contained HTML file (inline CSS and SVG, no scripts, fonts or
// images). Every chart point is an SVG element with data-series, data-lap (or data-stint and
// data-corner) and data-value attributes, so that the figures can be read back off the page.

#include <string>

#include "tools/report/race_analysis.h"
#include "tools/report/race_history.h"

namespace report {

struct PageSource {
    std::string databasePath;  // shown on the page, so escaped like any outside text
};

std::string renderReport(const RaceHistory& history, const RaceAnalysis& analysis,
                         const PageSource& source);

// Text for HTML element content and attribute values.
std::string escapeHtml(const std::string& text);

}  // namespace report
