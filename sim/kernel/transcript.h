// The transcript: every event that crosses the module's boundary, with its virtual time.
//
// A long job (a thousand discs, a day of virtual time) writes hundreds of thousands of entries,
// so the transcript keeps only the most recent ones in memory (`set_retained`), while everything
// else about it still covers the whole run:
//   - every entry has a sequence number (0, 1, 2 ... in the order added) that never changes;
//   - hash() is a running FNV-1a 64 over the text of every entry added since the start (or the
//     last clear()), whether still held or not;
//   - stream_to() writes every entry to a file as it is added;
//   - listeners (subscribe) see every entry as it is added.
// Readers that follow the transcript as it grows use sequence numbers (since()) or a listener,
// never positions in entries(), which move when old entries are let go.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct TranscriptEntry {
    uint64_t time_us;
    std::string thread;  // the simulated thread that caused it, or "world" for device events
    std::string kind;    // "serial>", "serial<", "msgbox", "dialog", "file", "spool", "lib", ...
    std::string text;    // printable: bytes outside 0x20..0x7e are escaped (see escape())
    uint64_t seq = 0;    // its place in the whole transcript: 0 for the first entry ever added
};

class Transcript {
public:
    // Entries held in memory unless set_retained() says otherwise: enough for every short run a
    // test looks at in full (a few discs), small enough that a long job's memory does not grow
    // with it.
    static constexpr size_t kDefaultRetained = 10000;

    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // (The text is taken over: a caller that builds it for the entry passes it as a temporary.)
    void add(uint64_t time_us, const std::string& thread, const std::string& kind, std::string text);

    // --- what is held in memory --------------------------------------------------------------
    // Keeps at most the `limit` most recent entries (0 = every entry); older ones are let go at
    // once when the limit shrinks.
    void set_retained(size_t limit);
    size_t retained() const { return retained_; }
    // The entries held, oldest first.
    const std::deque<TranscriptEntry>& entries() const { return entries_; }
    // Entries held of one kind, or whose kind starts with the given prefix.
    std::vector<TranscriptEntry> of_kind(const std::string& kind_prefix) const;
    // "[    12.345678] thread kind: text" per line, for the entries held.
    std::string text() const;

    // --- the whole transcript ----------------------------------------------------------------
    // Entries added so far: the sequence number the next entry gets.
    uint64_t count() const { return next_seq_; }
    // The sequence number of the oldest entry held (== count() when none is held).
    uint64_t first_held() const { return next_seq_ - entries_.size(); }
    // Entries added since the start or the last clear() that are no longer held.
    uint64_t let_go() const { return let_go_; }
    // The entries held whose sequence number is `from` or later; *missed (when given) is told how
    // many entries from `from` on were let go before they could be read.
    std::vector<TranscriptEntry> since(uint64_t from, uint64_t* missed = nullptr) const;
    // FNV-1a 64 over the text every entry added since the start or the last clear() had in
    // text(), held or not.
    uint64_t hash() const;
    // Forgets every entry (sequence numbers go on counting) and restarts the hash.
    void clear();

    // --- following it ------------------------------------------------------------------------
    using Listener = std::function<void(const TranscriptEntry&)>;
    // Calls `fn` for every entry from now on, right after it is added. Returns an id for
    // unsubscribe() (0 for an empty function). A listener must not add entries itself.
    int subscribe(Listener fn);
    void unsubscribe(int id);
    // Writes every entry held now and every entry added from now on to the file, one formatted
    // line each. The file is created (replaced); false when it cannot be. One stream at a time:
    // a new one ends the previous one.
    bool stream_to(const std::string& path);
    // The same to a stream the caller owns (stdout, say); it is flushed, never closed.
    void stream_to(std::FILE* out);
    // Ends the stream (closing the file stream_to(path) opened).
    void stop_streaming();

    static std::string format(const TranscriptEntry& e);
    // Turns arbitrary bytes into one printable line: \r \n \t \\ and \xNN for the rest.
    static std::string escape(const void* data, size_t n);
    static std::string escape(const std::string& s) { return escape(s.data(), s.size()); }
    // before + escape(data, n) + after, made as one string of just that size (an entry held
    // keeps its text's whole allocation).
    static std::string escape_between(const std::string& before, const void* data, size_t n, const char* after);

private:
    void trim();
    void drop_emptied_listeners();

    std::deque<TranscriptEntry> entries_;
    size_t retained_ = kDefaultRetained;
    uint64_t next_seq_ = 0;
    uint64_t let_go_ = 0;
    // FNV-1a 64 over the entries let go since the start or the last clear(); hash() goes on from
    // here over the entries held.
    uint64_t hash_let_go_ = 0xcbf29ce484222325ULL;
    std::vector<std::pair<int, Listener>> listeners_;
    int next_listener_ = 1;
    int notifying_ = 0;  // add() is running the listeners
    std::FILE* stream_ = nullptr;
    bool own_stream_ = false;
};

}  // namespace sim
