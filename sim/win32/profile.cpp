// Profile ("INI") files on the world's file system: GetPrivateProfileStringA,
// GetPrivateProfileIntA and WritePrivateProfileStringA with Windows' rules.
//
// Nothing is cached: every read loads the file and every write rewrites it at once, so each call
// sees the file as it is on the volume (and as tests or tools left it).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/text.h"
#include "win32/files.h"
#include "world/world.h"

namespace {

using sim::lower;

bool same_name(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// One line of a profile file as it was read, with what it means.
struct Line {
    enum Kind { Blank, Comment, Section, Entry } kind = Blank;
    std::string text;   // the line without its line end, written back unchanged
    std::string name;   // section or key name, trimmed
    std::string value;  // trimmed value of an entry
    bool has_value = false;  // the entry has an '='
};

std::vector<Line> parse(const std::string& content) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        Line line;
        line.text = content.substr(start, end - start);
        if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
        start = end + 1;
        const std::string t = trim(line.text);
        if (t.empty()) {
            line.kind = Line::Blank;
        } else if (t[0] == ';') {
            line.kind = Line::Comment;
        } else if (t[0] == '[') {
            line.kind = Line::Section;
            const size_t close = t.find(']');
            line.name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        } else {
            line.kind = Line::Entry;
            const size_t eq = t.find('=');
            if (eq == std::string::npos) {
                line.name = t;
            } else {
                line.name = trim(t.substr(0, eq));
                line.value = trim(t.substr(eq + 1));
                line.has_value = true;
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string serialize(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& l : lines) out += l.text + "\r\n";
    return out;
}

// The header line of the first section of that name, or -1.
long find_section(const std::vector<Line>& lines, const std::string& section) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == Line::Section && same_name(lines[i].name, section)) return static_cast<long>(i);
    return -1;
}

// One past the last line of the section whose header is at `header`.
size_t section_end(const std::vector<Line>& lines, long header) {
    size_t i = static_cast<size_t>(header) + 1;
    while (i < lines.size() && lines[i].kind != Line::Section) ++i;
    return i;
}

long find_key(const std::vector<Line>& lines, long header, const std::string& key) {
    if (header < 0) return -1;
    const size_t end = section_end(lines, header);
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
        if (lines[i].kind == Line::Entry && same_name(lines[i].name, key)) return static_cast<long>(i);
    return -1;
}

std::string unquote(const std::string& v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) return v.substr(1, v.size() - 2);
    return v;
}

// A bare file name lies in the Windows folder; anything with a separator resolves as a path.
std::string profile_path(LPCSTR file) {
    const std::string name = file ? file : "win.ini";
    if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos) return name;
    return sim::world().config().windows_dir + "\\" + name;
}

std::string shown(const std::string& path) {
    const std::string d = sim::world().files().display_path(path);
    return d.empty() ? path : d;
}

std::string quoted(const std::string& s) { return "\"" + sim::Transcript::escape(s) + "\""; }

// Copies one string, cut to the buffer: returns the characters copied.
DWORD copy_string(LPSTR buffer, DWORD size, const std::string& s) {
    const size_t n = std::min<size_t>(s.size(), size - 1);
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// Copies a list of names, each NUL-terminated, with an extra NUL at the end. When it does not
// fit, the buffer ends in two NULs and the result is size - 2.
DWORD copy_list(LPSTR buffer, DWORD size, const std::vector<std::string>& names) {
    std::string all;
    for (const std::string& n : names) {
        all += n;
        all += '\0';
    }
    if (all.size() + 1 <= size) {
        std::memcpy(buffer, all.data(), all.size());
        buffer[all.size()] = '\0';
        if (all.empty() && size > 1) buffer[1] = '\0';
        return static_cast<DWORD>(all.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, all.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

std::string join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + quoted(n);
    return out;
}

std::string rstrip_blanks(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

// Reads the file's lines; a file that cannot be read has none.
std::vector<Line> load_lines(const std::string& path) {
    std::string content;
    if (sim::world().files().load(path, &content)) return {};
    return parse(content);
}

// The string a read of (section, key) gives, without the default: false when missing.
bool lookup(const std::vector<Line>& lines, const std::string& section, const std::string& key, std::string* value) {
    const long k = find_key(lines, find_section(lines, section), key);
    if (k < 0 || !lines[static_cast<size_t>(k)].has_value) return false;
    *value = unquote(lines[static_cast<size_t>(k)].value);
    return true;
}

}  // namespace

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                                 LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    sim::enter_call("GetPrivateProfileStringA");
    const std::string path = profile_path(lpFileName);
    const std::vector<Line> lines = load_lines(path);
    const std::string where = "read " + shown(path) + " ";

    if (!lpAppName || !lpKeyName) {
        std::vector<std::string> names;
        std::string what;
        if (!lpAppName) {
            what = "(sections)";
            for (const Line& l : lines)
                if (l.kind == Line::Section) names.push_back(l.name);
        } else {
            what = "[" + std::string(lpAppName) + "] (keys)";
            const long s = find_section(lines, lpAppName);
            if (s >= 0) {
                const size_t end = section_end(lines, s);
                // A line without '=' is no key: it is read as missing and listed with none.
                for (size_t i = static_cast<size_t>(s) + 1; i < end; ++i)
                    if (lines[i].kind == Line::Entry && lines[i].has_value && !lines[i].name.empty())
                        names.push_back(lines[i].name);
            }
        }
        sim::kernel().record("profile", where + what + " -> " + join(names));
        if (!lpReturnedString || nSize == 0) return 0;
        return copy_list(lpReturnedString, nSize, names);
    }

    std::string value;
    const bool found = lookup(lines, lpAppName, lpKeyName, &value);
    if (!found) value = rstrip_blanks(lpDefault ? lpDefault : "");
    sim::kernel().record("profile", where + "[" + lpAppName + "] " + lpKeyName + " -> " + quoted(value) +
                                        (found ? "" : " (default)"));
    if (!lpReturnedString || nSize == 0) return 0;
    return copy_string(lpReturnedString, nSize, value);
}

extern "C" UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
    sim::enter_call("GetPrivateProfileIntA");
    const std::string path = profile_path(lpFileName);
    const std::string where = "read " + shown(path) + " [" + (lpAppName ? lpAppName : "") + "] " +
                              (lpKeyName ? lpKeyName : "") + " -> ";
    std::string value;
    if (!lpAppName || !lpKeyName || !lookup(load_lines(path), lpAppName, lpKeyName, &value) || value.empty()) {
        sim::kernel().record("profile", where + std::to_string(nDefault) + " (default)");
        return static_cast<UINT>(nDefault);
    }
    // Windows' integer rule: leading blanks, an optional sign, a base prefix (0x hex, 0o octal,
    // 0b binary, else decimal), then digits up to the first character that is not one.
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
    unsigned base = 10;
    if (i + 1 < value.size() && value[i] == '0') {
        const char p = value[i + 1];
        if (p == 'x' || p == 'X') base = 16;
        if (p == 'o' || p == 'O') base = 8;
        if (p == 'b' || p == 'B') base = 2;
        if (base != 10) i += 2;
    }
    uint32_t result = 0;
    for (; i < value.size(); ++i) {
        const char c = value[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else break;
        if (digit >= base) break;
        result = result * base + digit;  // wraps modulo 2^32 as the 32-bit result does
    }
    if (negative) result = 0u - result;
    sim::kernel().record("profile", where + std::to_string(static_cast<int32_t>(result)) + " (" + quoted(value) + ")");
    return result;
}

extern "C" BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
    sim::enter_call("WritePrivateProfileStringA");
    const std::string path = profile_path(lpFileName);
    if (!lpAppName) {
        // All three NULL asks to flush the profile cache; there is none, and Windows answers 0.
        if (lpKeyName || lpString) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The value is written without its leading blanks (Windows strips them; trailing ones stay).
    while (lpString && (*lpString == ' ' || *lpString == '\t' || *lpString == '\r' || *lpString == '\n')) ++lpString;
    std::string what = "[" + std::string(lpAppName) + "]";
    if (!lpKeyName) what = "delete " + shown(path) + " " + what;
    else if (!lpString) what = "delete " + shown(path) + " " + what + " " + lpKeyName;
    else what = "write " + shown(path) + " " + what + " " + lpKeyName + " = " + quoted(lpString);

    sim::Vfs& files = sim::world().files();
    std::string content;
    DWORD err = files.load(path, &content);
    if (err == ERROR_FILE_NOT_FOUND) {
        err = 0;
        content.clear();
    }
    if (err) {
        sim::kernel().record("profile", what + " -> failed: error " + std::to_string(err));
        SetLastError(err);
        return FALSE;
    }

    std::vector<Line> lines = parse(content);
    const long s = find_section(lines, lpAppName);
    bool changed = true;
    if (!lpKeyName) {
        if (s < 0) changed = false;
        else lines.erase(lines.begin() + s, lines.begin() + static_cast<long>(section_end(lines, s)));
    } else if (!lpString) {
        const long k = find_key(lines, s, lpKeyName);
        if (k < 0) changed = false;
        else lines.erase(lines.begin() + k);
    } else {
        Line entry;
        entry.kind = Line::Entry;
        entry.text = std::string(lpKeyName) + "=" + lpString;
        const long k = find_key(lines, s, lpKeyName);
        if (k >= 0) {
            lines[static_cast<size_t>(k)].text = lines[static_cast<size_t>(k)].name + "=" + lpString;
        } else if (s >= 0) {
            // After the section's last non-blank line.
            size_t at = section_end(lines, s);
            while (at > static_cast<size_t>(s) + 1 && lines[at - 1].kind == Line::Blank) --at;
            lines.insert(lines.begin() + static_cast<long>(at), entry);
        } else {
            Line header;
            header.kind = Line::Section;
            header.text = "[" + std::string(lpAppName) + "]";
            lines.push_back(header);
            lines.push_back(entry);
        }
    }
    if (!changed) {
        sim::kernel().record("profile", what + " (not present)");
        return TRUE;
    }
    err = files.store(path, serialize(lines));
    if (err) {
        sim::kernel().record("profile", what + " -> failed: error " + std::to_string(err));
        SetLastError(err);
        return FALSE;
    }
    sim::kernel().record("profile", what);
    return TRUE;
}
