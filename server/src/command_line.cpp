#include "command_line.h"

std::optional<std::string> CommandLine::option(const std::string& name) const {
  const auto found = options.find(name);
  if (found == options.end()) return std::nullopt;
  return found->second;
}

bool parse_command_line(int argc, const char* const* argv, const std::set<std::string>& value_options,
                        const std::set<std::string>& flag_options, CommandLine& parsed, std::string& error) {
  if (argc < 2) {
    error = "missing command";
    return false;
  }
  parsed.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      error = "unexpected argument: " + word;
      return false;
    }
    std::string name = word.substr(2);
    std::optional<std::string> inline_value;
    if (const size_t equals = name.find('='); equals != std::string::npos) {
      inline_value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (flag_options.count(name) && !inline_value) {
      parsed.flags.insert(name);
    } else if (value_options.count(name)) {
      if (!inline_value && i + 1 >= argc) {
        error = "--" + name + " needs a value";
        return false;
      }
      parsed.options[name] = inline_value ? *inline_value : argv[++i];
    } else {
      error = "unknown option: " + word;
      return false;
    }
  }
  return true;
}
