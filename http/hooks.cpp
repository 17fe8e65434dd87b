// http/hooks.cpp
#include "http/hooks.h"

#include <nlohmann/json.hpp>
#include <vector>

namespace corvhttp {

namespace {

using nlohmann::json;

// A string member of an object, or empty (a missing member, a non-object, another type).
std::string StringAt(const json& object, const char* key) {
  if (!object.is_object()) return {};
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

const json& ObjectAt(const json& object, const char* key) {
  static const json kEmpty = json::object();
  if (!object.is_object()) return kEmpty;
  const auto found = object.find(key);
  return found != object.end() && found->is_object() ? *found : kEmpty;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The labels but alertname, "key=value" joined by blanks (the JSON object keeps them sorted).
std::string LabelText(const json& labels) {
  std::string out;
  if (!labels.is_object()) return out;
  for (auto it = labels.begin(); it != labels.end(); ++it) {
    if (it.key() == "alertname" || !it.value().is_string()) continue;
    if (!out.empty()) out += ' ';
    out += it.key() + "=" + it.value().get<std::string>();
  }
  return out;
}

}  // namespace

std::string CutPageText(std::string text, int limit) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  const size_t max = static_cast<size_t>(std::max(limit, 4));
  if (text.size() > max) {
    text.resize(max - 3);
    text += "...";
  }
  return text;
}

int AlertmanagerText(const json& payload, int limit, std::string& text, std::string& error) {
  if (!payload.is_object()) {
    error = "the body is no JSON object";
    return 1;
  }
  const auto alertsAt = payload.find("alerts");
  if (alertsAt == payload.end() || !alertsAt->is_array()) {
    error = "no \"alerts\" list";
    return 1;
  }
  const json& alerts = *alertsAt;
  std::string status = StringAt(payload, "status");
  if (status.empty() && !alerts.empty()) status = StringAt(alerts.front(), "status");
  if (status.empty()) status = "firing";
  long long truncated = 0;
  if (const auto t = payload.find("truncatedAlerts"); t != payload.end() && t->is_number_integer()) {
    truncated = std::max<long long>(0, t->get<long long>());
  }
  const long long count = static_cast<long long>(alerts.size()) + truncated;

  std::string name = StringAt(ObjectAt(payload, "commonLabels"), "alertname");
  if (name.empty()) name = StringAt(ObjectAt(payload, "groupLabels"), "alertname");
  if (name.empty() && !alerts.empty()) name = StringAt(ObjectAt(alerts.front(), "labels"), "alertname");

  std::vector<std::string> details;
  const std::string common = StringAt(ObjectAt(payload, "commonAnnotations"), "summary");
  if (!common.empty()) {
    details.push_back(common);
  } else {
    for (const json& alert : alerts) {
      std::string detail = StringAt(ObjectAt(alert, "annotations"), "summary");
      if (detail.empty()) detail = LabelText(ObjectAt(alert, "labels"));
      if (!detail.empty()) details.push_back(detail);
      // Enough for any pager: the rest would be cut anyway.
      if (details.size() * 2 > static_cast<size_t>(std::max(limit, 0))) break;
    }
  }

  std::string out = "[" + Upper(status) + ":" + std::to_string(count) + "]";
  if (!name.empty()) out += " " + name;
  for (size_t i = 0; i < details.size(); ++i) {
    out += i == 0 ? (name.empty() ? " " : ": ") : "; ";
    out += details[i];
  }
  text = CutPageText(out, limit);
  return 0;
}

int GrafanaText(const json& payload, int limit, std::string& text, std::string& error) {
  if (!payload.is_object()) {
    error = "the body is no JSON object";
    return 1;
  }
  std::string title = StringAt(payload, "title");
  const std::string message = StringAt(payload, "message");
  if (title.empty()) {
    if (AlertmanagerText(payload, limit, title, error) != 0) {
      if (message.empty()) {
        error = "neither \"title\", \"message\" nor \"alerts\"";
        return 1;
      }
      title.clear();
    }
  }
  std::string out = title;
  if (!message.empty()) out += (out.empty() ? "" : " - ") + message;
  text = CutPageText(out, limit);
  return 0;
}

}  // namespace corvhttp
