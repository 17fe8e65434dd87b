// http/hooks.h - the pure half of the webhooks: Alertmanager's and Grafana's JSON turned
// into one short page text per notification. nlohmann-json has parsed the body; what is
// built from it is checked here, field by field, since either sender may leave any field
// out or give it another type.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace corvhttp {

// "[FIRING:3] HighLoad: first summary; second summary; ..." - the status and how many alerts
// (the truncated ones counted in), the alert name, then each alert's summary annotation (or
// its labels, alertname left out), once when all share one; "[RESOLVED:3] ..." for a
// resolved group. Cut to limit characters ("..." at the end when cut). 0, or 1 with error
// set when the payload is no Alertmanager notification (no alerts list).
[[nodiscard]] int AlertmanagerText(const nlohmann::json& payload, int limit, std::string& text, std::string& error);

// Grafana's webhook: the same envelope with title, state and message: the title (or the
// Alertmanager text when there is none), then " - " and the message, cut to limit. 0, or 1
// with error set.
[[nodiscard]] int GrafanaText(const nlohmann::json& payload, int limit, std::string& text, std::string& error);

// text cut to limit characters, "..." in its last three when cut; control characters become
// blanks (a pager line has no use for them).
std::string CutPageText(std::string text, int limit);

}  // namespace corvhttp
