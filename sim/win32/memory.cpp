// Global and local memory blocks, and text conversion to wide characters.
//
// Fixed blocks are their own handles. A moveable block's handle is a token distinct from its
// memory, reached only through GlobalLock, so code that treats such a handle as a pointer fails
// here as it would on Windows. Blocks allocated without the zero-fill flag start filled with
// 0xCD rather than zeros, so code that relies on zeroing it did not ask for shows up.
#include <cstdlib>
#include <cstring>

#include "win32/components.h"
#include "world/world.h"

using sim::Components;
using sim::world;

namespace {

constexpr UINT kMoveable = 0x0002;  // GMEM_MOVEABLE, LMEM_MOVEABLE
constexpr UINT kZeroInit = 0x0040;  // GMEM_ZEROINIT, LMEM_ZEROINIT

HANDLE allocate(UINT flags, SIZE_T bytes, bool local) {
    void* data = std::malloc(bytes ? bytes : 1);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::memset(data, (flags & kZeroInit) ? 0 : 0xCD, bytes ? bytes : 1);
    Components::MemoryBlock b;
    b.data = data;
    b.size = bytes;
    b.moveable = (flags & kMoveable) != 0;
    b.local = local;
    Components& c = world().components();
    const uintptr_t handle = b.moveable ? c.next_moveable_handle() : reinterpret_cast<uintptr_t>(data);
    c.blocks()[handle] = b;
    return reinterpret_cast<HANDLE>(handle);
}

// Frees the block behind a handle: NULL on success, else the handle with ERROR_INVALID_HANDLE.
HANDLE release(HANDLE h) {
    auto& blocks = world().components().blocks();
    auto it = blocks.find(reinterpret_cast<uintptr_t>(h));
    if (!h || it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return h;
    }
    std::free(it->second.data);
    blocks.erase(it);
    return nullptr;
}

}  // namespace

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    sim::enter_call("GlobalAlloc");
    return allocate(uFlags, dwBytes, false);
}

extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    sim::enter_call("GlobalFree");
    return release(hMem);
}

extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem) {
    sim::enter_call("GlobalLock");
    auto& blocks = world().components().blocks();
    auto it = blocks.find(reinterpret_cast<uintptr_t>(hMem));
    if (!hMem || it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (it->second.moveable) ++it->second.locks;
    return it->second.data;
}

extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem) {
    sim::enter_call("GlobalUnlock");
    auto& blocks = world().components().blocks();
    auto it = blocks.find(reinterpret_cast<uintptr_t>(hMem));
    if (!hMem || it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Components::MemoryBlock& b = it->second;
    if (!b.moveable) return TRUE;  // a fixed block is never locked
    if (b.locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--b.locks > 0) return TRUE;
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    sim::enter_call("LocalAlloc");
    return allocate(uFlags, uBytes, true);
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    sim::enter_call("LocalFree");
    if (!hMem) return nullptr;  // freeing NULL is allowed and does nothing
    return release(hMem);
}

// ---------------------------------------------------------------------------------------------
// MultiByteToWideChar. The ANSI code page is taken as Latin-1 (each byte is the code point of
// the same value); UTF-8 is decoded for real. Wide output is UTF-16 code units, one per wchar_t,
// so that counts equal those on Windows: characters beyond U+FFFF take a surrogate pair.
// Malformed UTF-8 yields U+FFFD per bad sequence, or fails with MB_ERR_INVALID_CHARS.

namespace {

// Decodes one UTF-8 sequence at s[i..n). Returns the code point (or -1 when malformed) and
// advances i past the sequence (at least one byte).
long decode_utf8(const unsigned char* s, int n, int* i) {
    const unsigned char c = s[*i];
    if (c < 0x80) {
        ++*i;
        return c;
    }
    int len;
    long cp;
    long min;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        ++*i;
        return -1;
    }
    int k = 1;
    for (; k < len; ++k) {
        if (*i + k >= n || (s[*i + k] & 0xC0) != 0x80) break;
        cp = (cp << 6) | (s[*i + k] & 0x3F);
    }
    if (k < len) {
        *i += k;  // the bytes read so far form one bad sequence
        return -1;
    }
    *i += len;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return cp;
}

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar) {
    sim::enter_call("MultiByteToWideChar");
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (CodePage != CP_ACP && CodePage != CP_UTF8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((CodePage == CP_UTF8 && (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) ||
        (dwFlags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE) ||
        (dwFlags & ~static_cast<DWORD>(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const int n = cbMultiByte == -1 ? static_cast<int>(std::strlen(lpMultiByteStr)) + 1 : cbMultiByte;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);

    // Converts into out (nullptr: count only); returns the count of wide units or -1 on bad input.
    auto convert = [&](WCHAR* out, int room) -> int {
        int count = 0;
        auto put = [&](long unit) {
            if (out && count < room) out[count] = static_cast<WCHAR>(unit);
            ++count;
        };
        if (CodePage == CP_ACP) {
            for (int i = 0; i < n; ++i) put(s[i]);
            return count;
        }
        for (int i = 0; i < n;) {
            long cp = decode_utf8(s, n, &i);
            if (cp < 0) {
                if (dwFlags & MB_ERR_INVALID_CHARS) return -1;
                cp = 0xFFFD;
            }
            if (cp >= 0x10000) {
                cp -= 0x10000;
                put(0xD800 + (cp >> 10));
                put(0xDC00 + (cp & 0x3FF));
            } else {
                put(cp);
            }
        }
        return count;
    };

    const int needed = convert(nullptr, 0);
    if (needed < 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cchWideChar == 0) return needed;
    convert(lpWideCharStr, cchWideChar);
    if (needed > cchWideChar) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return needed;
}
