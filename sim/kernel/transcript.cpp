#include "kernel/transcript.h"

#include <cstdio>

namespace sim {

void Transcript::add(uint64_t time_us, const std::string& thread, const std::string& kind, const std::string& text) {
    entries_.push_back(TranscriptEntry{time_us, thread, kind, text});
}

std::vector<TranscriptEntry> Transcript::of_kind(const std::string& kind_prefix) const {
    std::vector<TranscriptEntry> out;
    for (const auto& e : entries_)
        if (e.kind.compare(0, kind_prefix.size(), kind_prefix) == 0) out.push_back(e);
    return out;
}

std::string Transcript::format(const TranscriptEntry& e) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "[%6llu.%06llu] ", static_cast<unsigned long long>(e.time_us / 1000000),
                  static_cast<unsigned long long>(e.time_us % 1000000));
    return stamp + e.thread + " " + e.kind + ": " + e.text;
}

std::string Transcript::text() const {
    std::string out;
    for (const auto& e : entries_) {
        out += format(e);
        out += '\n';
    }
    return out;
}

uint64_t Transcript::hash() const {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (const auto& e : entries_) {
        const std::string line = format(e) + "\n";
        for (unsigned char c : line) {
            h ^= c;
            h *= 0x100000001b3ULL;
        }
    }
    return h;
}

std::string Transcript::escape(const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\\': out += "\\\\"; break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    out += static_cast<char>(c);
                } else {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", c);
                    out += buf;
                }
        }
    }
    return out;
}

}  // namespace sim
