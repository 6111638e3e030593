// The world's file system: an in-memory Windows volume "C:" with folders and files, opened
// through CreateFileA and reached by the world's tools, tests and device models directly.
//
// Names are Windows paths: a drive letter, backslashes or slashes, case-insensitive names whose
// case of creation is kept for display, "." and "..", relative paths resolved from the world's
// current directory. Only drive C: exists.
//
// Every write through a file handle is recorded in the transcript (kind "file"), so the log
// files the module writes can be read back from a run's transcript. The world's file write
// counter (CallFaults) may fail a WriteFile or a whole-file write with ERROR_DISK_FULL; the
// volume's own open and write counters (fail_open, fail_write) fail the opens and writes of one
// file, or of every file, with the error they name.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/fault_counter.h"
#include "kernel/handles.h"

namespace sim {

class World;

class Vfs {
public:
    struct Node;      // a folder or a file
    struct OpenFile;  // the object behind a file handle

    explicit Vfs(World& world);
    ~Vfs();
    Vfs(const Vfs&) = delete;
    Vfs& operator=(const Vfs&) = delete;

    // --- world API: no scheduling point, no last error, no capacity limit ---------------------
    // Creates a folder and all its parents. False when the path is invalid or crosses a file.
    bool mkdir(const std::string& path);
    // Creates or replaces a file; its folder must exist. False when it cannot.
    bool write_file(const std::string& path, const std::string& bytes);
    bool read_file(const std::string& path, std::string* out) const;
    bool exists(const std::string& path) const;  // file or folder
    bool is_folder(const std::string& path) const;
    // Removes a file that no handle holds open, or an empty folder.
    bool remove(const std::string& path);
    uint64_t size(const std::string& path) const;  // 0 when missing or a folder
    std::vector<std::string> list() const;         // display paths of all files, in name order
    // Writes every folder and file below <host_dir>/C/... . False on a host error.
    bool export_to(const std::string& host_dir) const;
    // The host path export_to gives a Windows path: <host_dir>/C/<path with / separators>, with
    // the names' case as created where they exist. "" when the path is invalid.
    std::string host_path(const std::string& host_dir, const std::string& windows_path) const;
    // "C:\Program Files\Host\x.ini" for any spelling of an existing or new path; "" if invalid.
    std::string display_path(const std::string& path) const;
    // Number of handles open on a file.
    size_t open_handles(const std::string& path) const;

    // Fault injection. An empty path means every file. The next `count` opens (or writes) fail
    // with `error`; count -1 = always; count 0 removes the rule. A rule is a counter of the
    // volume's open or write family, the file's lower-case display path its target.
    void fail_open(const std::string& path, DWORD error, int count);
    void fail_write(const std::string& path, DWORD error, int count);
    // Total bytes the volume holds (default: unlimited). A write through a handle that would pass
    // it writes what fits and fails with ERROR_DISK_FULL.
    void set_capacity(uint64_t bytes);
    uint64_t capacity() const { return capacity_; }
    uint64_t used_bytes() const { return used_; }

    // --- Win32 side ---------------------------------------------------------------------------
    // CreateFileA on a file path. INVALID_HANDLE_VALUE with SetLastError on failure; on success
    // the last error is ERROR_ALREADY_EXISTS or 0, as Windows sets it.
    HANDLE open(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

    // Whole-file read and replace through open(), honouring sharing and injected faults; used by
    // the profile calls. Results: 0 or a Win32 error code.
    DWORD load(const std::string& path, std::string* out);
    DWORD store(const std::string& path, const std::string& bytes);

    // Resolves a path into its drive ("C:") and components in the case given. 0, or
    // ERROR_INVALID_NAME / ERROR_PATH_NOT_FOUND for a path that cannot name anything.
    DWORD resolve(const std::string& path, std::vector<std::string>* parts) const;
    // Finds a node: 0, or ERROR_FILE_NOT_FOUND (last name missing), ERROR_PATH_NOT_FOUND (a
    // folder on the way missing), ERROR_INVALID_NAME.
    DWORD find(const std::string& path, Node** node, Node** parent = nullptr,
               std::string* leaf = nullptr) const;
    static const std::string& node_path(const Node* node);

    // Used by the file objects.
    DWORD write_at(Node* file, uint64_t pos, const void* data, uint32_t n, uint32_t* done);
    DWORD resize(Node* file, uint64_t new_size);
    // Asks the world's file write counters; the error (and the transcript told) when this write,
    // of `file` or else of the file at `path`, fails, 0 when it goes on.
    DWORD injected_write_fault(const char* call, const Node* file, const std::string& path);

private:
    void set_rule(FaultCounters& rules, const std::string& path, DWORD error, int count);
    Node* make_child(Node* parent, const std::string& name, bool folder);
    static std::string node_path_of(const Node* node);  // from its parent's

    World& world_;
    std::shared_ptr<Node> root_;  // holds the drives
    FaultCounters open_faults_;   // by lower-case display path, "" for all
    FaultCounters write_faults_;
    uint64_t capacity_ = UINT64_MAX;
    uint64_t used_ = 0;
    mutable std::string base_of_;           // the current directory that base_ splits
    mutable std::vector<std::string> base_;
    // Paths found, by the spelling asked for (see find()); forgotten whenever a node goes.
    struct Found {
        Node* node;
        std::string leaf;
    };
    static constexpr size_t kFoundRemembered = 256;
    mutable std::unordered_map<std::string, Found> found_;
};

}  // namespace sim
