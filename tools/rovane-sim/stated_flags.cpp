// Options that state their value, and run's command lines made of them and read back.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "flag_checks.h"
#include "run_command.h"
#include "stated_flags.h"

namespace rovane_tool {

// ---------------------------------------------------------------------------------------------
// Options that state their value

namespace {

// The shortest decimal text that reads back as the same number: "0.161", "1017.6", "1e+07".
std::string number_text(double v) {
    char text[40];
    // A whole number as one ("120", not the shortest %g, "1.2e+02").
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", v);
        return text;
    }
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v) break;
    }
    return text;
}

template <class T, class Say>
CLI::Option* stated(CLI::App* c, const std::string& name, T& variable, const std::string& description, Say say) {
    return c->add_option(name, variable, description)->default_function([&variable, say] { return say(variable); });
}

// A list, one item a line: the command line states each item with a flag of its own.
template <class T, class Say>
std::string lines(const std::vector<T>& items, Say say) {
    std::string text;
    for (const T& item : items) text += say(item) + "\n";
    return text;
}

std::string text_of(const std::string& s) { return s; }

// The word as a POSIX shell reads it back: bare when it holds nothing the shell would take apart.
std::string shell_word(const std::string& word) {
    if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@%+=:,./_-") ==
                             std::string::npos)
        return word;
    std::string quoted = "'";
    for (char ch : word) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return quoted + "'";
}

}  // namespace

CLI::Option* add_stated(CLI::App* c, const std::string& name, uint64_t& variable, const std::string& description) {
    return stated(c, name, variable, description, [](uint64_t v) { return std::to_string(v); });
}
CLI::Option* add_stated(CLI::App* c, const std::string& name, int& variable, const std::string& description) {
    return stated(c, name, variable, description, [](int v) { return std::to_string(v); });
}
CLI::Option* add_stated(CLI::App* c, const std::string& name, double& variable, const std::string& description) {
    return stated(c, name, variable, description, number_text);
}
CLI::Option* add_stated(CLI::App* c, const std::string& name, std::string& variable, const std::string& description) {
    return stated(c, name, variable, description, text_of);
}
CLI::Option* add_stated(CLI::App* c, const std::string& name, std::vector<std::string>& variable, const std::string& description) {
    return stated(c, name, variable, description, [](const std::vector<std::string>& v) { return lines(v, text_of); });
}
CLI::Option* add_stated(CLI::App* c, const std::string& name, std::vector<double>& variable, const std::string& description) {
    return stated(c, name, variable, description, [](const std::vector<double>& v) { return lines(v, number_text); });
}
CLI::Option* add_stated_flag(CLI::App* c, const std::string& name, bool& variable, const std::string& description) {
    return c->add_flag(name, variable, description)->default_function([&variable] { return std::string(variable ? "1" : ""); });
}

std::string stated_flags(CLI::App& stated_app, CLI::App& defaults) {
    const std::vector<CLI::Option*> options = stated_app.get_options();
    const std::vector<CLI::Option*> plain = defaults.get_options();
    std::string flags;
    for (size_t i = 0; i < options.size() && i < plain.size(); ++i) {
        CLI::Option* o = options[i];
        if (o->get_lnames().empty()) continue;
        const std::string value = o->capture_default_str()->get_default_str();
        if (value == plain[i]->capture_default_str()->get_default_str()) continue;
        const std::string name = " --" + o->get_lnames().front();
        if (o->get_expected_max() == 0) {  // a flag: set, or left out
            if (!value.empty()) flags += name;
        } else if (!value.empty() && value.back() == '\n') {  // a list
            for (size_t at = 0, end; (end = value.find('\n', at)) != std::string::npos; at = end + 1)
                flags += name + " " + shell_word(value.substr(at, end - at));
        } else {
            flags += name + " " + shell_word(value);
        }
    }
    return flags;
}

std::string run_command_line(const RunOptions& options) {
    RunOptions said = options, plain;
    CLI::App said_app, plain_app;
    add_run_flags(&said_app, &said);
    add_run_flags(&plain_app, &plain);
    return "rovane-sim run" + stated_flags(said_app, plain_app);
}

namespace {

// The words of a command line as a POSIX shell splits them: blanks between words, '...' and
// "..." quote, a backslash outside quotes takes the next character as it is. False on an
// unfinished quote.
bool shell_words(const std::string& line, std::vector<std::string>* words) {
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (ch == ' ' || ch == '\t') {
            if (in_word) words->push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (ch == '\\' && i + 1 < line.size()) {
            word += line[++i];
        } else if (ch == '\'' || ch == '"') {
            const size_t end = line.find(ch, i + 1);
            if (end == std::string::npos) return false;
            word += line.substr(i + 1, end - i - 1);
            i = end;
        } else {
            word += ch;
        }
    }
    if (in_word) words->push_back(word);
    return true;
}

}  // namespace

bool parse_run_command_line(const std::string& line, RunOptions* options, std::string* error) {
    std::vector<std::string> words;
    if (!shell_words(line, &words)) {
        *error = "an unfinished quote";
        return false;
    }
    if (words.size() < 2 || words[0] != "rovane-sim" || words[1] != "run") {
        *error = "not a 'rovane-sim run' command line";
        return false;
    }
    CLI::App app;
    add_run_flags(&app, options);
    std::vector<std::string> args(words.rbegin(), words.rend() - 2);  // CLI11 takes them last first
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return false;
    }
    return true;
}

}  // namespace rovane_tool
