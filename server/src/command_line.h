// Splitting "orlix_server COMMAND --name value --flag ..." into parts.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>

struct CommandLine {
  std::string command;
  std::map<std::string, std::string> options;  // "--port 8080" -> {"port", "8080"}
  std::set<std::string> flags;                 // "--json" -> "json"

  std::optional<std::string> option(const std::string& name) const;
  bool flag(const std::string& name) const { return flags.count(name) != 0; }
};

// `value_options` take a value; `flag_options` take none. Anything else is
// an error (false, with `error` saying what).
bool parse_command_line(int argc, const char* const* argv, const std::set<std::string>& value_options,
                        const std::set<std::string>& flag_options, CommandLine& parsed, std::string& error);
