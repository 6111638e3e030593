// The transcript: every event that crosses the module's boundary, with its virtual time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct TranscriptEntry {
    uint64_t time_us;
    std::string thread;  // the simulated thread that caused it, or "world" for device events
    std::string kind;    // "serial>", "serial<", "msgbox", "dialog", "file", "spool", "lib", ...
    std::string text;    // printable: bytes outside 0x20..0x7e are escaped (see escape())
};

class Transcript {
public:
    void add(uint64_t time_us, const std::string& thread, const std::string& kind, const std::string& text);
    const std::vector<TranscriptEntry>& entries() const { return entries_; }
    // Entries of one kind, or whose kind starts with the given prefix.
    std::vector<TranscriptEntry> of_kind(const std::string& kind_prefix) const;
    // "[    12.345678] thread kind: text" per line.
    std::string text() const;
    static std::string format(const TranscriptEntry& e);
    // FNV-1a 64 over text().
    uint64_t hash() const;
    void clear() { entries_.clear(); }
    // Turns arbitrary bytes into one printable line: \r \n \t \\ and \xNN for the rest.
    static std::string escape(const void* data, size_t n);
    static std::string escape(const std::string& s) { return escape(s.data(), s.size()); }

private:
    std::vector<TranscriptEntry> entries_;
};

}  // namespace sim
