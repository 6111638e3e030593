// Value checks for the flags of rovane-sim's commands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace CLI {
class Validator;
}  // namespace CLI

namespace rovane_tool {

// Numbers are taken in decimal only (CLI11 would read "010" as octal and "0x10" as hexadecimal):
// a whole number is digits without a sign or a leading 0; other numbers may have a fraction and
// an exponent ("0.5", "1e3"), never a sign, "inf" or "nan".
bool parse_decimal(const std::string& text, double* value);
// A whole number from 0 to 2^64-1.
CLI::Validator whole_number();
// A whole number from `low` to `high`.
CLI::Validator whole_number(uint64_t low, uint64_t high);
// A probability from 0 to 1.
CLI::Validator probability();
// A number (fractions allowed) from `low` to `high`, named with its unit in the refusal
// ("takes 1 to 20 seconds, not '0'"; `unit` may be empty).
CLI::Validator number(double low, double high, const std::string& unit);
// A number of seconds, or of hours (fractions allowed), from `low` to `high`.
CLI::Validator seconds(double low, double high);
CLI::Validator hours(double low, double high);
// Any text but the empty one: "takes WHAT, not an empty text".
CLI::Validator not_empty(const std::string& what);
// A text `accepts` takes, refused as "takes FORM, not 'TEXT'".
CLI::Validator text_form(std::function<bool(const std::string&)> accepts, const std::string& form);
// An input bin: 4, 2, 5 or 1.
CLI::Validator input_bin();

}  // namespace rovane_tool
