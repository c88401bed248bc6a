// JSON form of recorded pings, shared by `orlix_server pings --json` and
// GET /__test/pings.
#pragma once
#include <string>
#include <vector>

#include "stats_store.h"

// [{"id":1,"time":"...","path":"/active.htm","query":"tag=Tavrel&...",
//   "params":{"tag":"Tavrel",...}}, ...]; params are the decoded query pairs
// (a repeated key keeps its first value).
std::string pings_to_json(const std::vector<PingRow>& rows);
