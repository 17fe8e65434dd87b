// http/metrics.h - corvd32's counters (the pipe's request type 10) in the Prometheus text
// exposition format 0.0.4.
#pragma once

#include <string>
#include <vector>

#include "common/counter_lines.h"

namespace corvhttp {

// A label value with its backslash, double quote and line feed escaped.
std::string PrometheusLabelValue(std::string_view value);

// The exposition of figures: for each known figure name one "# HELP" and "# TYPE" block
// with its lines, in a fixed order; a figure the table does not know is left out, so a
// newer corvd32 cannot break the format.
std::string PrometheusText(const std::vector<common::CounterFigure>& figures);

}  // namespace corvhttp
