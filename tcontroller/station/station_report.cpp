#include "tcontroller/station/station_report.h"

#include <cstdio>

namespace tarvo {

std::string csvLine(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& field = fields[i];
        const bool quoted = field.find_first_of(",\"\r\n") != std::string::npos ||
                            (!field.empty() && (field.front() == ' ' || field.back() == ' '));
        if (i > 0) {
            out += ',';
        }
        if (!quoted) {
            out += field;
            continue;
        }
        out += '"';
        for (char c : field) {
            out += c;
            if (c == '"') {
                out += '"';
            }
        }
        out += '"';
    }
    return out + "\r\n";
}

std::string stationReportHeader() {
    return csvLine(
        {"time", "port", "model", "from", "to", "result", "failed_step", "reason", "seconds"});
}

std::string stationReportLine(const StationRow& row, const std::string& time) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", row.seconds);
    const bool verified = row.state == StationRow::State::verified;
    return csvLine({time, row.port, row.model, row.before, verified ? row.after : row.target,
                    verified ? "verified" : "failed", verified ? "" : row.failedStep,
                    verified ? "" : row.reason, seconds});
}

}  // namespace tarvo
