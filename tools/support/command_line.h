// The arguments of one fx60 subcommand: options with checked values, positional
// arguments, and one wording for each kind of bad usage, shared by every command.
#pragma once

#include <charconv>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fx60::tool {

// A whole decimal number in [low, high] and nothing else: no sign on unsigned
// types, no spaces, no trailing characters.
template <typename Number>
std::optional<Number> parseWholeNumber(std::string_view text, Number low, Number high) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

class CommandLine {
 public:
  // `command` names the subcommand in messages: "fx60 COMMAND: ...".
  explicit CommandLine(std::string command) : command_(std::move(command)) {}
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  void flag(const std::string& name, bool& target);
  void text(const std::string& name, std::string& target);
  // Repeatable: each use adds one value.
  void texts(const std::string& name, std::vector<std::string>& target);
  void choice(const std::string& name, std::string& target, std::vector<std::string> choices);
  template <typename Number>
  void number(const std::string& name, Number& target, Number low, Number high) {
    options_.push_back({name, true, [this, name, &target, low, high](const std::string& value) {
                          return readNumber(name, value, low, high, target);
                        }});
  }

  // Reads the arguments in order. Those that are not options, a lone "-", numbers
  // such as "-1" and everything after "--" go to `positional`. On bad usage prints
  // why and returns false.
  bool parse(const std::vector<std::string>& args, std::vector<std::string>& positional) const;

  // The same for a command that takes options only: any other argument is refused.
  bool parse(const std::vector<std::string>& args) const;

  // A number given outside an option (`what` names it in the message).
  template <typename Number>
  bool readNumber(const std::string& what, const std::string& text, Number low, Number high, Number& target) const {
    const auto value = parseWholeNumber<Number>(text, low, high);
    if (!value)
      return fail(what + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                  ", not '" + text + "'");
    target = *value;
    return true;
  }

  // Prints "fx60 COMMAND: message" on standard error; always false.
  bool fail(const std::string& message) const;

 private:
  struct Option {
    std::string name;
    bool takesValue;
    std::function<bool(const std::string& value)> set;
  };
  std::string command_;
  std::vector<Option> options_;
};

// Whether the arguments ask for help (-h or --help before any "--").
bool asksForHelp(const std::vector<std::string>& args);

}  // namespace fx60::tool
