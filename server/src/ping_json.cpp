#include "ping_json.h"

#include <set>

#include "json_text.h"
#include "url_text.h"

std::string pings_to_json(const std::vector<PingRow>& rows) {
  std::string json = "[";
  for (size_t i = 0; i < rows.size(); ++i) {
    const PingRow& row = rows[i];
    if (i > 0) json += ",";
    json += "\n{\"id\":" + std::to_string(row.id) + ",\"time\":" + json_quote(row.time) +
            ",\"path\":" + json_quote(row.path) + ",\"query\":" + json_quote(row.query) + ",\"params\":{";
    std::set<std::string> seen;
    bool first = true;
    for (const auto& [key, value] : parse_query(row.query)) {
      if (!seen.insert(key).second) continue;
      if (!first) json += ",";
      first = false;
      json += json_quote(key) + ":" + json_quote(value);
    }
    json += "}}";
  }
  return json + "\n]\n";
}
