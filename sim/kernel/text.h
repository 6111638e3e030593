// Small text helpers shared by the world's Windows subsystems.
#pragma once

#include <string>

namespace sim {

// Windows compares file names, registry keys, profile sections and keys, printer and library
// names without regard to case; the module's names are ASCII.
inline std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace sim
