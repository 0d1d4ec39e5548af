#pragma once

#include <string>
#include <vector>

#include "tcontroller/station/station_row.h"

namespace tarvo {

// One line of a CSV file (RFC 4180): fields with a comma, a quote, a line
// break or a leading or trailing space are quoted, quotes doubled; ends in
// "\r\n". Plain C++.
std::string csvLine(const std::vector<std::string>& fields);

// The header of the station's report and the report's line for a finished
// controller at `time` (ISO 8601): time, port, model, from, to, result,
// failed step, reason, seconds.
std::string stationReportHeader();
std::string stationReportLine(const StationRow& row, const std::string& time);

}  // namespace tarvo
