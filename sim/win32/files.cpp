// The world's file system and the Win32 calls on file handles that are not the generic
// read/write/close (those dispatch through StreamObject, see handles_api.cpp).
#include "win32/files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "kernel/text.h"
#include "world/world.h"

namespace sim {

struct Vfs::Node {
    std::string name;  // as created: "C:" for a drive
    bool folder = false;
    Node* parent = nullptr;
    // Its display path and that in lower case (the fault counters' target), made once: a log
    // line opens, writes and closes its file, and each asks for them. Nothing renames a node.
    std::string shown;
    std::string key;
    std::map<std::string, std::shared_ptr<Node>> children;  // by lower-case name
    std::string data;
    std::vector<OpenFile*> opens;
};

namespace {

bool wants_read(DWORD access) {
    return (access & (GENERIC_READ | GENERIC_ALL | 0x0001 /* FILE_READ_DATA */)) != 0;
}
bool wants_write(DWORD access) {
    return (access & (GENERIC_WRITE | GENERIC_ALL | 0x0002 /* FILE_WRITE_DATA */ |
                      0x0004 /* FILE_APPEND_DATA */)) != 0;
}

}  // namespace

// The object behind a file handle: its own file pointer, its access rights and the share mode
// it grants to later opens of the same file.
struct Vfs::OpenFile : StreamObject {
    Vfs* vfs = nullptr;
    std::shared_ptr<Node> node;
    DWORD access = 0;
    DWORD share = 0;
    uint64_t pos = 0;

    const char* type_name() const override { return "file"; }

    bool on_close() override {
        auto& v = node->opens;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
        return true;
    }

    uint32_t read(void* buffer, uint32_t n, uint32_t* done) override {
        *done = 0;
        if (!wants_read(access)) return ERROR_ACCESS_DENIED;
        const uint64_t size = node->data.size();
        if (pos >= size || n == 0) return 0;
        const uint64_t count = std::min<uint64_t>(n, size - pos);
        std::memcpy(buffer, node->data.data() + pos, static_cast<size_t>(count));
        pos += count;
        *done = static_cast<uint32_t>(count);
        return 0;
    }

    // WriteFile on a disk file.
    uint32_t write(const void* buffer, uint32_t n, uint32_t* done) override {
        *done = 0;
        if (!wants_write(access)) return ERROR_ACCESS_DENIED;
        if (const DWORD fault = vfs->injected_write_fault("WriteFile", node.get(), "")) return fault;
        const DWORD err = vfs->write_at(node.get(), pos, buffer, n, done);
        pos += *done;
        return err;
    }
};

// ---------------------------------------------------------------------------------------------
// Construction and paths

Vfs::Vfs(World& world) : world_(world), root_(std::make_shared<Node>()) {
    root_->folder = true;
    make_child(root_.get(), "C:", true);
    mkdir(world.config().windows_dir);
    mkdir(world.config().current_dir);
}

Vfs::~Vfs() = default;

Vfs::Node* Vfs::make_child(Node* parent, const std::string& name, bool folder) {
    auto node = std::make_shared<Node>();
    node->name = name;
    node->folder = folder;
    node->parent = parent;
    node->shown = node_path_of(node.get());
    node->key = lower(node->shown);
    Node* raw = node.get();
    std::shared_ptr<Node>& slot = parent->children[lower(name)];
    if (slot) found_.clear();  // a node replaced
    slot = std::move(node);
    return raw;
}

DWORD Vfs::resolve(const std::string& path_in, std::vector<std::string>* parts) const {
    parts->clear();
    if (path_in.empty()) return ERROR_PATH_NOT_FOUND;
    std::string path = path_in;
    std::replace(path.begin(), path.end(), '/', '\\');
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return ERROR_INVALID_NAME;
        if (c == ':') {
            const bool drive = i == 1 && std::isalpha(static_cast<unsigned char>(path[0]));
            if (!drive) return ERROR_INVALID_NAME;
        }
    }
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return ERROR_PATH_NOT_FOUND;  // no network

    // The current directory, split, as the base of relative paths (split again only when the
    // world's current directory changed).
    if (base_of_ != world_.config().current_dir || base_.empty()) {
        base_of_ = world_.config().current_dir;
        found_.clear();  // relative paths found from the old one
        std::vector<std::string>& base = base_;
        base.clear();
        std::string cur = world_.config().current_dir;
        std::replace(cur.begin(), cur.end(), '/', '\\');
        std::string part;
        for (size_t i = 0; i <= cur.size(); ++i) {
            if (i == cur.size() || cur[i] == '\\') {
                if (!part.empty()) base.push_back(part);
                part.clear();
            } else {
                part += cur[i];
            }
        }
        if (base.empty()) base.push_back("C:");
        base[0] = lower(base[0]);
        base[0][0] = static_cast<char>(std::toupper(static_cast<unsigned char>(base[0][0])));
    }
    const std::vector<std::string>& base = base_;

    std::string rest;
    if (path.size() >= 2 && path[1] == ':') {
        std::string drive = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])))) + ":";
        rest = path.substr(2);
        if (!rest.empty() && rest[0] == '\\') {
            parts->push_back(drive);
        } else if (drive == base[0]) {
            *parts = base;  // drive-relative: from the current directory of that drive
        } else {
            parts->push_back(drive);
        }
    } else if (path[0] == '\\') {
        parts->push_back(base[0]);
        rest = path;
    } else {
        *parts = base;
        rest = path;
    }

    std::string part;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && rest[i] != '\\') {
            part += rest[i];
            continue;
        }
        if (part == "..") {
            if (parts->size() > 1) parts->pop_back();
        } else if (part != "." && !part.empty()) {
            // Windows drops trailing dots and blanks of a name.
            while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
            if (!part.empty()) parts->push_back(part);
        }
        part.clear();
    }
    return 0;
}

DWORD Vfs::find(const std::string& path, Node** node, Node** parent, std::string* leaf) const {
    *node = nullptr;
    if (parent) *parent = nullptr;
    // A path found before names the same node while nothing is removed and the current
    // directory stays: the module opens its log file by the same name for every line.
    if (base_of_ == world_.config().current_dir) {
        const auto hit = found_.find(path);
        if (hit != found_.end()) {
            *node = hit->second.node;
            if (parent) *parent = hit->second.node->parent;
            if (leaf) *leaf = hit->second.leaf;
            return 0;
        }
    }
    std::vector<std::string> parts;
    const DWORD err = resolve(path, &parts);
    if (err) return err;
    Node* cur = root_.get();
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (!cur->folder) return ERROR_PATH_NOT_FOUND;
        auto it = cur->children.find(lower(parts[i]));
        if (last) {
            if (parent) *parent = cur;
            if (leaf) *leaf = parts[i];
        }
        if (it == cur->children.end()) return last && i > 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        cur = it->second.get();
    }
    *node = cur;
    if (found_.size() >= kFoundRemembered) found_.clear();
    found_[path] = Found{cur, parts.empty() ? std::string() : parts.back()};
    return 0;
}

std::string Vfs::node_path_of(const Node* node) {
    if (!node || !node->parent) return "";
    if (!node->parent->parent) return node->name + "\\";  // a drive root
    std::string up = node->parent->shown;
    if (up.back() != '\\') up += '\\';
    return up + node->name;
}

const std::string& Vfs::node_path(const Node* node) {
    static const std::string none;
    return node ? node->shown : none;
}

std::string Vfs::display_path(const std::string& path) const {
    std::vector<std::string> parts;
    if (resolve(path, &parts)) return "";
    std::string out;
    Node* cur = root_.get();
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string name = parts[i];
        if (cur) {
            auto it = cur->children.find(lower(name));
            if (it != cur->children.end()) {
                cur = it->second.get();
                name = cur->name;
            } else {
                cur = nullptr;
            }
        }
        if (i > 0 && out.back() != '\\') out += '\\';
        out += name;
        if (i == 0) out += '\\';
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// World API

bool Vfs::mkdir(const std::string& path) {
    std::vector<std::string> parts;
    if (resolve(path, &parts)) return false;
    Node* cur = root_.get();
    for (size_t i = 0; i < parts.size(); ++i) {
        auto it = cur->children.find(lower(parts[i]));
        if (it == cur->children.end()) {
            if (i == 0) return false;  // no such drive
            cur = make_child(cur, parts[i], true);
        } else {
            cur = it->second.get();
            if (!cur->folder) return false;
        }
    }
    return true;
}

bool Vfs::write_file(const std::string& path, const std::string& bytes) {
    Node* node = nullptr;
    Node* parent = nullptr;
    std::string leaf;
    const DWORD err = find(path, &node, &parent, &leaf);
    if (err == ERROR_FILE_NOT_FOUND) {
        node = make_child(parent, leaf, false);
    } else if (err || node->folder) {
        return false;
    }
    used_ = used_ - node->data.size() + bytes.size();
    node->data = bytes;
    return true;
}

bool Vfs::read_file(const std::string& path, std::string* out) const {
    Node* node = nullptr;
    if (find(path, &node) || node->folder) return false;
    *out = node->data;
    return true;
}

bool Vfs::exists(const std::string& path) const {
    Node* node = nullptr;
    return find(path, &node) == 0;
}

bool Vfs::is_folder(const std::string& path) const {
    Node* node = nullptr;
    return find(path, &node) == 0 && node->folder;
}

bool Vfs::remove(const std::string& path) {
    Node* node = nullptr;
    if (find(path, &node) || !node->parent || !node->parent->parent) return false;  // not a drive
    if (node->folder ? !node->children.empty() : !node->opens.empty()) return false;
    used_ -= node->data.size();
    found_.clear();
    node->parent->children.erase(lower(node->name));
    return true;
}

uint64_t Vfs::size(const std::string& path) const {
    Node* node = nullptr;
    if (find(path, &node) || node->folder) return 0;
    return node->data.size();
}

size_t Vfs::open_handles(const std::string& path) const {
    Node* node = nullptr;
    if (find(path, &node)) return 0;
    return node->opens.size();
}

std::vector<std::string> Vfs::list() const {
    std::vector<std::string> out;
    std::vector<const Node*> stack{root_.get()};
    // Depth first in name order: children are pushed in reverse so the first name comes first.
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!n->folder) {
            out.push_back(node_path(n));
            continue;
        }
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back(it->second.get());
    }
    return out;
}

std::string Vfs::host_path(const std::string& host_dir, const std::string& windows_path) const {
    const std::string shown = display_path(windows_path);
    if (shown.empty()) return "";
    std::string out = host_dir;
    if (!out.empty() && out.back() != '/') out += '/';
    out += shown.substr(0, 1);  // the drive letter
    std::string rest = shown.substr(2);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    if (rest == "/") rest.clear();
    return out + rest;
}

bool Vfs::export_to(const std::string& host_dir) const {
    namespace fs = std::filesystem;
    std::vector<const Node*> stack{root_.get()};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n != root_.get()) {
            const std::string where = host_path(host_dir, node_path(n));
            std::error_code ec;
            if (n->folder) {
                fs::create_directories(where, ec);
                if (ec) return false;
            } else {
                fs::create_directories(fs::path(where).parent_path(), ec);
                if (ec) return false;
                std::ofstream f(where, std::ios::binary | std::ios::trunc);
                f.write(n->data.data(), static_cast<std::streamsize>(n->data.size()));
                if (!f) return false;
            }
        }
        for (const auto& [key, child] : n->children) stack.push_back(child.get());
    }
    return true;
}

void Vfs::set_rule(FaultCounters& rules, const std::string& path, DWORD error, int count) {
    const std::string key = path.empty() ? "" : lower(display_path(path));
    if (!path.empty() && key.empty()) return;  // an invalid path can never be opened anyway
    FaultCounter& rule = rules.counter(key);
    rule.set_error(static_cast<long>(error));
    rule.set_told_by_call(true);  // "open ... failed: error 5", "write ... failed: error 29"
    rule.arm_next(count);
}

void Vfs::fail_open(const std::string& path, DWORD error, int count) { set_rule(open_faults_, path, error, count); }
void Vfs::fail_write(const std::string& path, DWORD error, int count) { set_rule(write_faults_, path, error, count); }
void Vfs::set_capacity(uint64_t bytes) { capacity_ = bytes; }

// ---------------------------------------------------------------------------------------------
// Data changes (capacity and transcript)

DWORD Vfs::write_at(Node* file, uint64_t pos, const void* data, uint32_t n, uint32_t* done) {
    *done = 0;
    const std::string& shown = file->shown;
    if (const Injected fault = inject_with(write_faults_, file->key, [&] { return "WriteFile " + shown; }, ERROR_WRITE_FAULT)) {
        world_.kernel().record("file", "write " + shown + " failed: error " + std::to_string(fault.error));
        return static_cast<DWORD>(fault.error);
    }
    const uint64_t size = file->data.size();
    const uint64_t room = capacity_ > used_ ? capacity_ - used_ : 0;
    uint64_t count = n;
    if (std::max<uint64_t>(size, pos + n) - size > room)
        count = pos > size + room ? 0 : size + room - pos;  // what fits
    if (count > 0 || pos <= size) {
        const uint64_t end = pos + count;
        if (end > size) {
            file->data.resize(static_cast<size_t>(end), '\0');
            used_ += end - size;
        }
        if (count) std::memcpy(&file->data[static_cast<size_t>(pos)], data, static_cast<size_t>(count));
    }
    *done = static_cast<uint32_t>(count);
    // "write PATH N bytes: TEXT", the first 200 bytes escaped (every line the module logs passes
    // here: the text is escaped in place, not into a string of its own).
    std::string before;
    before.reserve(6 + shown.size() + 1 + 20 + 8);
    before.append("write ", 6).append(shown).append(" ", 1).append(std::to_string(count)).append(" bytes: ", 8);
    world_.kernel().record(
        "file", Transcript::escape_between(before, data, static_cast<size_t>(std::min<uint64_t>(count, 200)), ""));
    if (count < n) {
        world_.kernel().record("file", "write " + shown + " failed: disk full after " + std::to_string(count) +
                                           " of " + std::to_string(n) + " bytes");
        return ERROR_DISK_FULL;
    }
    return 0;
}

DWORD Vfs::resize(Node* file, uint64_t new_size) {
    const uint64_t size = file->data.size();
    if (new_size > size) {
        const uint64_t room = capacity_ > used_ ? capacity_ - used_ : 0;
        if (new_size - size > room) return ERROR_DISK_FULL;
        used_ += new_size - size;
    } else {
        used_ -= size - new_size;
    }
    file->data.resize(static_cast<size_t>(new_size), '\0');
    world_.kernel().record("file", "set end " + node_path(file) + " at " + std::to_string(new_size) + " bytes");
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Opening

HANDLE Vfs::open(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD /*flags*/) {
    auto failed = [&](DWORD error) {
        world_.kernel().record("file", "open " + path + " failed: error " + std::to_string(error));
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return failed(ERROR_INVALID_PARAMETER);
    Node* node = nullptr;
    Node* parent = nullptr;
    std::string leaf;
    const DWORD err = find(path, &node, &parent, &leaf);
    if (err && err != ERROR_FILE_NOT_FOUND) return failed(err);

    std::string new_key;  // (a file that exists has its key: no copy made of it)
    const std::string& key = node ? node->key : (new_key = lower(display_path(path)));
    if (const Injected fault = inject_with(open_faults_, key, [&] { return "CreateFileA " + path; }, ERROR_ACCESS_DENIED))
        return failed(static_cast<DWORD>(fault.error));

    if (node && node->folder) return failed(ERROR_ACCESS_DENIED);
    if (!path.empty() && (path.back() == '\\' || path.back() == '/')) return failed(ERROR_INVALID_NAME);
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (!node && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) return failed(ERROR_FILE_NOT_FOUND);
    if (node && disposition == CREATE_NEW) return failed(ERROR_FILE_EXISTS);
    if (disposition == TRUNCATE_EXISTING && !wants_write(access)) return failed(ERROR_INVALID_PARAMETER);

    DWORD last_error = 0;
    if (node) {
        // Every handle already open must allow what this one wants, and this one must allow
        // what each of them already has.
        for (const OpenFile* other : node->opens) {
            const bool conflict = (wants_read(access) && !(other->share & FILE_SHARE_READ)) ||
                                  ((wants_write(access) || truncates) && !(other->share & FILE_SHARE_WRITE)) ||
                                  (wants_read(other->access) && !(share & FILE_SHARE_READ)) ||
                                  (wants_write(other->access) && !(share & FILE_SHARE_WRITE));
            if (conflict) return failed(ERROR_SHARING_VIOLATION);
        }
        if (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) last_error = ERROR_ALREADY_EXISTS;
        if (truncates && !node->data.empty()) resize(node, 0);
    } else {
        node = make_child(parent, leaf, false);
    }

    auto object = std::make_shared<OpenFile>();
    object->vfs = this;
    object->node = node->parent->children[lower(node->name)];
    object->access = access;
    object->share = share;
    node->opens.push_back(object.get());
    HANDLE h = world_.handles().add(object);
    SetLastError(last_error);
    return h;
}

DWORD Vfs::load(const std::string& path, std::string* out) {
    out->clear();
    HANDLE h = open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    *out = world_.handles().get<OpenFile>(h)->node->data;
    world_.handles().close(h);
    return 0;
}

DWORD Vfs::store(const std::string& path, const std::string& bytes) {
    // A whole-file write found the disk full before it began: the file stays as it was.
    if (const DWORD fault = injected_write_fault("whole-file write", nullptr, path)) return fault;
    HANDLE h = open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    uint32_t done = 0;
    const auto file = world_.handles().get<OpenFile>(h);
    const DWORD err = bytes.empty() ? 0 : write_at(file->node.get(), 0, bytes.data(), static_cast<uint32_t>(bytes.size()), &done);
    world_.handles().close(h);
    return err;
}

// The sweep's injected file write fault ("fail call N"): the write fails with ERROR_DISK_FULL
// and writes nothing.
DWORD Vfs::injected_write_fault(const char* call, const Node* file, const std::string& path) {
    if (file)
        return static_cast<DWORD>(inject_with(world_.call_faults().file_write, file->key,
                                              [&] { return call + (" " + file->shown); }, ERROR_DISK_FULL).error);
    const std::string shown = display_path(path);
    return static_cast<DWORD>(inject(world_.call_faults().file_write, lower(shown), call + (" " + shown), ERROR_DISK_FULL).error);
}

}  // namespace sim

// ---------------------------------------------------------------------------------------------
// Win32 calls

namespace {

std::shared_ptr<sim::Vfs::OpenFile> file_of(HANDLE h) { return sim::world().handles().get<sim::Vfs::OpenFile>(h); }

}  // namespace

extern "C" DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    sim::enter_call("GetFileSize");
    auto f = file_of(hFile);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    const uint64_t size = f->node->data.size();
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    const DWORD low = static_cast<DWORD>(size);
    if (low == INVALID_FILE_SIZE) SetLastError(NO_ERROR);  // tells a real size from a failure
    return low;
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    sim::enter_call("SetFilePointer");
    auto f = file_of(hFile);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh)
        distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                        static_cast<uint32_t>(lDistanceToMove));
    int64_t base = 0;
    switch (dwMoveMethod) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = static_cast<int64_t>(f->pos); break;
    case FILE_END: base = static_cast<int64_t>(f->node->data.size()); break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
    }
    const int64_t target = base + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (!lpDistanceToMoveHigh && target > 0xFFFFFFFELL) {
        // Without the high part the position must fit the 32-bit result.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    f->pos = static_cast<uint64_t>(target);
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(f->pos >> 32);
    const DWORD low = static_cast<DWORD>(f->pos);
    if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
    return low;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    sim::enter_call("SetEndOfFile");
    auto f = file_of(hFile);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!sim::wants_write(f->access)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const DWORD err = f->vfs->resize(f->node.get(), f->pos);
    if (err) {
        SetLastError(err);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    sim::enter_call("GetFileAttributesA");
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    sim::Vfs::Node* node = nullptr;
    const DWORD err = sim::world().files().find(lpFileName, &node);
    if (err) {
        SetLastError(err);
        return INVALID_FILE_ATTRIBUTES;
    }
    return node->folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}
