/* The print file generator (print_file.h). */
#include "print_file.h"

#include <string.h>

#define PF_HEADER 32
#define PF_TRAILER 24

static const struct {
    const char* name;
    const char* printer;
} kKinds[PF_KIND_COUNT] = {
    {"pellan-iv", "Pellan IV"}, {"pellan-pro", "Pellan PRO"}, {"optical-disc-printer", "Optical Disc Printer"},
    {"varrow", "Varrow"},       {"varrow-2", "Varrow"},       {"tessik-6", "Tessik 6"},
    {"label", "Pellan IV"},     {"short", "Pellan IV"},       {"wrong", "Pellan IV"},
};

PfRecipe pf_recipe(PfKind kind) {
    PfRecipe r;
    static const uint32_t kUse[PF_INK_COUNTERS] = {300000, 250000, 200000, 400000, 0, 0};
    memset(&r, 0, sizeof r);
    r.kind = kind;
    r.size = 4096;
    r.cartridge = 1;
    memcpy(r.use, kUse, sizeof kUse);
    r.low_level = 350000000UL;
    r.low_level_2 = 450000000UL;
    r.title = "Disc label";
    return r;
}

int pf_kind(const char* name, size_t cb) {
    for (int i = 0; i < PF_KIND_COUNT; ++i)
        if (strlen(kKinds[i].name) == cb && memcmp(kKinds[i].name, name, cb) == 0) return i;
    return -1;
}

const char* pf_kind_name(PfKind kind) { return kind >= 0 && kind < PF_KIND_COUNT ? kKinds[kind].name : "?"; }

const char* pf_kind_names(void) {
    return "pellan-iv, pellan-pro, optical-disc-printer, varrow, varrow-2, tessik-6, label, short, wrong";
}

const char* pf_printer(PfKind kind) { return kind >= 0 && kind < PF_KIND_COUNT ? kKinds[kind].printer : "Pellan IV"; }

const char* pf_extension(PfKind kind) { return kind == PF_LABEL ? "STD" : "PRN"; }

/* The file is built in place when it fits, else byte by byte through this writer. */
typedef struct Out {
    unsigned char* p;
    size_t size;  /* room at p */
} Out;

static void Put(Out* o, size_t at, unsigned char b) {
    if (at < o->size) o->p[at] = b;
}

static void Put24(Out* o, size_t at, uint32_t v) {
    Put(o, at, (unsigned char)(v >> 16));
    Put(o, at + 1, (unsigned char)(v >> 8));
    Put(o, at + 2, (unsigned char)v);
}

static void Put32(Out* o, size_t at, uint32_t v) {
    Put(o, at, (unsigned char)(v >> 24));
    Put24(o, at + 1, v);
}

static void PutBytes(Out* o, size_t at, const char* bytes, size_t cb) {
    for (size_t i = 0; i < cb; ++i) Put(o, at + i, (unsigned char)bytes[i]);
}

size_t pf_make(const PfRecipe* s, unsigned char* out, size_t out_size) {
    Out o;
    o.p = out;
    o.size = out == NULL ? 0 : out_size;
    if (s->kind == PF_LABEL) {
        const char* title = s->title != NULL ? s->title : "";
        const size_t cb_title = strlen(title);
        size_t at = 0;
        PutBytes(&o, at, "[Design]\r\nTitle=", 16), at += 16;
        PutBytes(&o, at, title, cb_title), at += cb_title;
        PutBytes(&o, at, "\r\nLayout=Full disc\r\nText1=", 26), at += 26;
        PutBytes(&o, at, title, cb_title), at += cb_title;
        PutBytes(&o, at, "\r\n", 2), at += 2;
        return at;
    }

    const size_t need = s->kind == PF_TESSIK_6 ? PF_HEADER + PF_TRAILER : PF_HEADER;
    size_t size = s->size > need ? s->size : need;
    /* Printer data of a fixed pattern (never an escape byte, so no header can appear by chance). */
    for (size_t i = 0; i < PF_HEADER; ++i) Put(&o, i, 0);
    for (size_t i = PF_HEADER; i < size && i < o.size; ++i) o.p[i] = (unsigned char)(0x20 + (i * 7) % 0x5F);
    Put(&o, 0, 0x1B);
    switch (s->kind) {
        case PF_PELLAN_IV:
        case PF_SHORT:
            PutBytes(&o, 1, "\x00\xFF", 2);
            PutBytes(&o, 8, "\x1B\x00\xFE", 3);
            Put(&o, 4, s->cartridge);
            if (s->cartridge == 0) {
                Put24(&o, 11, s->use[3]);
            } else {
                Put24(&o, 11, s->use[0]);
                Put24(&o, 14, s->use[1]);
                Put24(&o, 17, s->use[2]);
            }
            Put32(&o, 20, s->low_level);
            if (s->kind == PF_SHORT) size = PF_HEADER - 1;
            break;
        case PF_PELLAN_PRO:
            PutBytes(&o, 1, "\x03\xFF", 2);
            PutBytes(&o, 8, "\x1B\x03\xFE", 3);
            Put24(&o, 11, s->use[0]);
            Put24(&o, 14, s->use[1]);
            Put24(&o, 17, s->use[2]);
            Put32(&o, 20, s->low_level);
            Put24(&o, 24, s->use[3]);
            Put32(&o, 27, s->low_level_2);
            break;
        case PF_OPTICAL_DISC_PRINTER:
            PutBytes(&o, 1, "\x01\x02KS10", 6);
            break;
        case PF_VARROW:
            PutBytes(&o, 1, "\x05\x1E", 2);
            break;
        case PF_VARROW_2:
            PutBytes(&o, 1, "\x07\x00", 2);
            break;
        case PF_TESSIK_6: {
            const size_t t = size - PF_TRAILER;
            PutBytes(&o, 1, "\x08\x0E", 2);
            Put32(&o, 6, s->low_level);
            Put32(&o, 10, s->low_level_2);
            for (size_t i = 0; i < PF_TRAILER; ++i) Put(&o, t + i, 0);
            PutBytes(&o, t, "\x1B\x08", 2);
            for (size_t i = 0; i < PF_INK_COUNTERS; ++i) Put24(&o, t + 4 + 3 * i, s->use[i]);
            break;
        }
        case PF_WRONG:
            /* An escape, then format bytes no printer writes ("Pellan IV" without its second mark). */
            PutBytes(&o, 1, "\x00\xFF", 2);
            PutBytes(&o, 8, "\x1B\x00\x00", 3);
            break;
        case PF_LABEL:
        case PF_KIND_COUNT:
            break;
    }
    return size;
}
