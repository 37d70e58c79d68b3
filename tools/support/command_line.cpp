#include "tools/support/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace fx60::tool {

namespace {

bool looksLikeOption(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return false;
  return !std::isdigit(static_cast<unsigned char>(arg[1]));  // "-1" is a value
}

}  // namespace

void CommandLine::flag(const std::string& name, bool& target) {
  options_.push_back({name, false, [&target](const std::string&) {
                        target = true;
                        return true;
                      }});
}

void CommandLine::text(const std::string& name, std::string& target) {
  options_.push_back({name, true, [&target](const std::string& value) {
                        target = value;
                        return true;
                      }});
}

void CommandLine::texts(const std::string& name, std::vector<std::string>& target) {
  options_.push_back({name, true, [&target](const std::string& value) {
                        target.push_back(value);
                        return true;
                      }});
}

void CommandLine::choice(const std::string& name, std::string& target, std::vector<std::string> choices) {
  options_.push_back({name, true, [this, name, &target, choices](const std::string& value) {
                        if (std::find(choices.begin(), choices.end(), value) != choices.end()) {
                          target = value;
                          return true;
                        }
                        std::string allowed;
                        for (size_t i = 0; i < choices.size(); ++i)
                          allowed += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
                        return fail(name + " takes " + allowed + ", not '" + value + "'");
                      }});
}

bool CommandLine::parse(const std::vector<std::string>& args, std::vector<std::string>& positional) const {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      return true;
    }
    if (!looksLikeOption(arg)) {
      positional.push_back(arg);
      continue;
    }
    const auto option = std::find_if(options_.begin(), options_.end(), [&](const Option& o) { return o.name == arg; });
    if (option == options_.end()) return fail("unknown option " + arg);
    if (option->takesValue && i + 1 >= args.size()) return fail(arg + " needs a value");
    if (!option->set(option->takesValue ? args[++i] : std::string())) return false;
  }
  return true;
}

bool CommandLine::parse(const std::vector<std::string>& args) const {
  std::vector<std::string> positional;
  if (!parse(args, positional)) return false;
  return positional.empty() || fail("unexpected argument " + positional[0]);
}

bool CommandLine::fail(const std::string& message) const {
  std::fprintf(stderr, "fx60 %s: %s\n", command_.c_str(), message.c_str());
  return false;
}

bool asksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "-h" || arg == "--help") return true;
  }
  return false;
}

}  // namespace fx60::tool
