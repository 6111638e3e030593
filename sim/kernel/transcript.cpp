#include "kernel/transcript.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

uint64_t fold_bytes(uint64_t h, const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        h ^= static_cast<unsigned char>(p[i]);
        h *= kFnvPrime;
    }
    return h;
}

// "[%6llu.%06llu] " of the time: the seconds right-aligned in six places (more when needed),
// the microseconds in six digits. Returns the length written to `out` (at least 40 bytes).
size_t format_stamp(uint64_t time_us, char* out) {
    char digits[24];
    size_t n = 0;
    for (uint64_t s = time_us / 1000000; n == 0 || s; s /= 10) digits[n++] = static_cast<char>('0' + s % 10);
    size_t len = 0;
    out[len++] = '[';
    for (size_t pad = n; pad < 6; ++pad) out[len++] = ' ';
    while (n) out[len++] = digits[--n];
    out[len++] = '.';
    uint64_t us = time_us % 1000000;
    for (int i = 5; i >= 0; --i, us /= 10) out[len + static_cast<size_t>(i)] = static_cast<char>('0' + us % 10);
    len += 6;
    out[len++] = ']';
    out[len++] = ' ';
    return len;
}

// The hash of the entry's line in text(), without making the line.
uint64_t fold(uint64_t h, const TranscriptEntry& e) {
    char stamp[40];
    h = fold_bytes(h, stamp, format_stamp(e.time_us, stamp));
    h = fold_bytes(h, e.thread.data(), e.thread.size());
    h = fold_bytes(h, " ", 1);
    h = fold_bytes(h, e.kind.data(), e.kind.size());
    h = fold_bytes(h, ": ", 2);
    h = fold_bytes(h, e.text.data(), e.text.size());
    return fold_bytes(h, "\n", 1);
}

}  // namespace

Transcript::~Transcript() { stop_streaming(); }

void Transcript::add(uint64_t time_us, const std::string& thread, const std::string& kind, std::string text) {
    entries_.push_back(TranscriptEntry{time_us, thread, kind, std::move(text), next_seq_++});
    const TranscriptEntry& e = entries_.back();
    if (stream_) {
        const std::string line = format(e) + "\n";
        std::fwrite(line.data(), 1, line.size(), stream_);
    }
    // By index: a listener may subscribe another one (which sees the next entry on), and one
    // that is unsubscribed meanwhile is only emptied until the round is over.
    ++notifying_;
    for (size_t i = 0; i < listeners_.size(); ++i)
        if (listeners_[i].second) listeners_[i].second(e);
    if (--notifying_ == 0) drop_emptied_listeners();
    trim();
}

void Transcript::trim() {
    if (retained_ == 0) return;
    while (entries_.size() > retained_) {
        hash_let_go_ = fold(hash_let_go_, entries_.front());
        entries_.pop_front();
        ++let_go_;
    }
}

void Transcript::set_retained(size_t limit) {
    retained_ = limit;
    trim();
}

std::vector<TranscriptEntry> Transcript::of_kind(const std::string& kind_prefix) const {
    std::vector<TranscriptEntry> out;
    for (const auto& e : entries_)
        if (e.kind.compare(0, kind_prefix.size(), kind_prefix) == 0) out.push_back(e);
    return out;
}

std::vector<TranscriptEntry> Transcript::since(uint64_t from, uint64_t* missed) const {
    const uint64_t first = first_held();
    if (missed) *missed = from < first ? first - from : 0;
    std::vector<TranscriptEntry> out;
    if (from >= next_seq_) return out;
    const size_t start = from <= first ? 0 : static_cast<size_t>(from - first);
    out.assign(entries_.begin() + static_cast<std::ptrdiff_t>(start), entries_.end());
    return out;
}

std::string Transcript::format(const TranscriptEntry& e) {
    char stamp[40];
    const size_t stamp_len = format_stamp(e.time_us, stamp);
    std::string line;
    line.reserve(stamp_len + e.thread.size() + e.kind.size() + e.text.size() + 3);
    line.append(stamp, stamp_len).append(e.thread).append(" ").append(e.kind).append(": ").append(e.text);
    return line;
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
    uint64_t h = hash_let_go_;
    for (const auto& e : entries_) h = fold(h, e);
    return h;
}

void Transcript::clear() {
    entries_.clear();
    let_go_ = 0;
    hash_let_go_ = 0xcbf29ce484222325ULL;
}

int Transcript::subscribe(Listener fn) {
    if (!fn) return 0;
    listeners_.emplace_back(next_listener_, std::move(fn));
    return next_listener_++;
}

void Transcript::unsubscribe(int id) {
    for (auto& l : listeners_)
        if (l.first == id) l.second = nullptr;
    if (notifying_ == 0) drop_emptied_listeners();
}

void Transcript::drop_emptied_listeners() {
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [](const std::pair<int, Listener>& l) { return !l.second; }),
                     listeners_.end());
}

bool Transcript::stream_to(const std::string& path) {
    stop_streaming();
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    stream_to(f);
    own_stream_ = true;
    return true;
}

void Transcript::stream_to(std::FILE* out) {
    stop_streaming();
    stream_ = out;
    own_stream_ = false;
    if (!stream_) return;
    for (const auto& e : entries_) {
        const std::string line = format(e) + "\n";
        std::fwrite(line.data(), 1, line.size(), stream_);
    }
}

void Transcript::stop_streaming() {
    if (!stream_) return;
    if (own_stream_)
        std::fclose(stream_);
    else
        std::fflush(stream_);
    stream_ = nullptr;
    own_stream_ = false;
}

namespace {

// Escapes n bytes into `out`, which has room for 4 * n characters; returns the length written.
size_t escape_into(const unsigned char* p, size_t n, char* out) {
    static const char kHex[] = "0123456789abcdef";
    char* o = out;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            *o++ = static_cast<char>(c);
            continue;
        }
        *o++ = '\\';
        switch (c) {
            case '\r': *o++ = 'r'; break;
            case '\n': *o++ = 'n'; break;
            case '\t': *o++ = 't'; break;
            case '\\': *o++ = '\\'; break;
            default:
                *o++ = 'x';
                *o++ = kHex[c >> 4];
                *o++ = kHex[c & 15];
        }
    }
    return static_cast<size_t>(o - out);
}

}  // namespace

std::string Transcript::escape(const void* data, size_t n) {
    // Written through a pointer, a character at a time, into room for the worst case: a file
    // write's or a serial line's bytes pass here. Short texts (most) go through the stack.
    const auto* p = static_cast<const unsigned char*>(data);
    constexpr size_t kShort = 256;
    if (n <= kShort) {
        char buf[4 * kShort];
        return std::string(buf, escape_into(p, n, buf));
    }
    std::string out(n * 4, '\0');
    out.resize(escape_into(p, n, out.data()));
    return out;
}

std::string Transcript::escape_between(const std::string& before, const void* data, size_t n, const char* after) {
    constexpr size_t kShort = 256;
    char buf[4 * kShort];
    std::string long_text;
    const char* escaped = buf;
    size_t length;
    if (n <= kShort) {
        length = escape_into(static_cast<const unsigned char*>(data), n, buf);
    } else {
        long_text = escape(data, n);
        escaped = long_text.data();
        length = long_text.size();
    }
    const size_t after_length = std::strlen(after);
    std::string out;
    out.reserve(before.size() + length + after_length);
    out.append(before).append(escaped, length).append(after, after_length);
    return out;
}

}  // namespace sim
