// http/metrics.cpp
#include "http/metrics.h"

#include <string_view>

namespace corvhttp {

namespace {

struct MetricEntry {
  std::string_view Figure;  // name in corvd32's reply
  std::string_view Metric;  // name in the exposition
  std::string_view Type;
  std::string_view Help;
};

constexpr MetricEntry kMetrics[] = {
    {"pages_accepted", "corvel_pages_accepted_total", "counter", "Pages queued or scheduled, per recipient."},
    {"pages_sent", "corvel_pages_sent_total", "counter", "Pages delivered to a paging terminal."},
    {"pages_given_up", "corvel_pages_given_up_total", "counter", "Pages given up after their retries."},
    {"pipe_requests", "corvel_pipe_requests_total", "counter", "Requests read on the paging server's pipe."},
    {"unknown_names", "corvel_unknown_names_total", "counter", "Pages refused for an unknown name."},
    {"now_queue_full", "corvel_now_queue_full_total", "counter", "Pages refused because a NOW queue was full."},
    {"now_queue_pages", "corvel_now_queue_pages", "gauge", "Pages waiting in a NOW queue (Main or a port's)."},
    {"at_pages", "corvel_at_pages", "gauge", "Pages waiting in the AT queue for their time."},
    {"calls", "corvel_calls_total", "counter", "Modem calls per port and paging system, by how the dial ended."},
};

bool ValidLabelName(std::string_view name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (const char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

}  // namespace

std::string PrometheusLabelValue(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string PrometheusText(const std::vector<common::CounterFigure>& figures) {
  std::string text;
  for (const MetricEntry& metric : kMetrics) {
    std::string lines;
    for (const common::CounterFigure& figure : figures) {
      if (figure.Name != metric.Figure) continue;
      lines += metric.Metric;
      std::string labels;
      for (const auto& [name, value] : figure.Labels) {
        if (!ValidLabelName(name)) continue;
        labels += labels.empty() ? "{" : ",";
        labels += name + "=\"" + PrometheusLabelValue(value) + "\"";
      }
      if (!labels.empty()) lines += labels + "}";
      lines += " " + std::to_string(figure.Value) + "\n";
    }
    if (lines.empty()) continue;
    text += "# HELP " + std::string(metric.Metric) + " " + std::string(metric.Help) + "\n";
    text += "# TYPE " + std::string(metric.Metric) + " " + std::string(metric.Type) + "\n";
    text += lines;
  }
  return text;
}

}  // namespace corvhttp
