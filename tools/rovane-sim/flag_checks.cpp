// Value checks for flags: numbers in decimal only, ranges, texts that may not be empty.
#include <CLI/CLI.hpp>

#include <cmath>
#include <functional>
#include <cstdlib>
#include <cstring>

#include "flag_checks.h"

namespace rovane_tool {

// ---------------------------------------------------------------------------------------------
// Value checks

namespace {

// The texts of the numbers a flag takes, as CLI11 would read them otherwise: a leading 0 as octal,
// 0x as hexadecimal, "inf" and "nan" as numbers. Only decimal is taken.
bool decimal_digits(const std::string& text, size_t from, size_t to) {
    return from < to && text.find_first_not_of("0123456789", from) >= to;
}

bool parse_whole(const std::string& text, uint64_t* value) {
    if (!decimal_digits(text, 0, text.size()) || (text.size() > 1 && text[0] == '0')) return false;
    errno = 0;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return errno != ERANGE;
}

// "takes 1 to 10000, not '0x10'": the range, and what the text is not.
std::string whole_number_refusal(const std::string& range, const std::string& text) {
    std::string why;
    if (decimal_digits(text, 0, text.size()) && text.size() > 1 && text[0] == '0')
        why = " (without a leading 0)";
    else if (!text.empty() && !decimal_digits(text, 0, text.size()))
        why = " (a whole number written in decimal)";
    return "takes " + range + why + ", not '" + text + "'";
}

// A number of `unit` from `low` to `high`: "takes 0 to 86400 seconds, not 'inf'".

}  // namespace

CLI::Validator number(double low, double high, const std::string& unit) {
    return CLI::Validator(
        [low, high, unit](std::string& text) -> std::string {
            double v = 0;
            if (parse_decimal(text, &v) && v >= low && v <= high) return "";
            char range[96];
            std::snprintf(range, sizeof range, "takes %g to %g%s%s", low, high, unit.empty() ? "" : " ", unit.c_str());
            const std::string why = !text.empty() && !parse_decimal(text, &v) ? " (a number written in decimal)" : "";
            return std::string(range) + why + ", not '" + text + "'";
        },
        "");
}

bool parse_decimal(const std::string& text, double* value) {
    // Digits, an optional fraction, an optional exponent: 240, 0.5, .5, 1e3.
    size_t at = text.find_first_not_of("0123456789");
    const size_t int_digits = at == std::string::npos ? text.size() : at;
    size_t frac_digits = 0;
    if (at != std::string::npos && text[at] == '.') {
        const size_t end = text.find_first_not_of("0123456789", at + 1);
        frac_digits = (end == std::string::npos ? text.size() : end) - at - 1;
        at = end;
    }
    if (int_digits + frac_digits == 0) return false;
    if (at != std::string::npos && (text[at] == 'e' || text[at] == 'E')) {
        size_t digits = at + 1;
        if (digits < text.size() && (text[digits] == '+' || text[digits] == '-')) ++digits;
        if (!decimal_digits(text, digits, text.size())) return false;
        at = std::string::npos;
    }
    if (at != std::string::npos) return false;
    *value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(*value);
}

CLI::Validator whole_number() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            uint64_t v = 0;
            return parse_whole(text, &v) ? "" : whole_number_refusal("a whole number from 0 to 18446744073709551615", text);
        },
        "");
}

CLI::Validator whole_number(uint64_t low, uint64_t high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            uint64_t v = 0;
            if (parse_whole(text, &v) && v >= low && v <= high) return "";
            return whole_number_refusal(std::to_string(low) + " to " + std::to_string(high), text);
        },
        "");
}

CLI::Validator probability() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double v = 0;
            if (parse_decimal(text, &v) && v >= 0 && v <= 1) return "";
            return "takes a probability from 0 to 1, not '" + text + "'";
        },
        "");
}

CLI::Validator seconds(double low, double high) { return number(low, high, "seconds"); }

CLI::Validator hours(double low, double high) { return number(low, high, "hours"); }

CLI::Validator not_empty(const std::string& what) {
    return CLI::Validator([what](std::string& text) -> std::string { return text.empty() ? "takes " + what + ", not an empty text" : ""; },
                          "");
}

CLI::Validator text_form(std::function<bool(const std::string&)> accepts, const std::string& form) {
    return CLI::Validator(
        [accepts, form](std::string& t) -> std::string { return accepts(t) ? "" : "takes " + form + ", not '" + t + "'"; },
        "");
}

CLI::Validator input_bin() {
    return CLI::Validator(
        [](std::string& t) -> std::string {
            return t.size() == 1 && std::strchr("1245", t[0]) ? "" : "takes an input bin: 4, 2, 5 or 1, not '" + t + "'";
        },
        "");
}

}  // namespace rovane_tool
