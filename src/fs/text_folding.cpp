#include "fs/text_folding.h"

namespace quarrow {

namespace {

struct FoldTable {
    char map[256];
    constexpr FoldTable() : map() {
        for (int c = 0; c < 256; ++c)
            map[c] = static_cast<char>(c);
        for (int c = 1; c < 32; ++c)
            map[c] = ' ';
        for (int c = 128; c < 192; ++c)
            map[c] = ' ';
        for (int c = 192; c <= 197; ++c)
            map[c] = 'A';
        map[199] = 'C';
        for (int c = 200; c <= 203; ++c)
            map[c] = 'E';
        for (int c = 204; c <= 207; ++c)
            map[c] = 'I';
        map[208] = 'D';
        map[209] = 'N';
        for (int c = 210; c <= 214; ++c)
            map[c] = 'O';
        map[216] = 'O';
        map[215] = 'X';
        for (int c = 217; c <= 220; ++c)
            map[c] = 'U';
        map[221] = 'Y';
        map[222] = 'a';
        map[254] = 'a';
        map[223] = 'b';
        for (int c = 224; c <= 229; ++c)
            map[c] = 'a';
        map[231] = 'c';
        for (int c = 232; c <= 235; ++c)
            map[c] = 'e';
        for (int c = 236; c <= 239; ++c)
            map[c] = 'i';
        map[240] = 'o';
        for (int c = 242; c <= 246; ++c)
            map[c] = 'o';
        map[248] = 'o';
        map[241] = 'n';
        for (int c = 249; c <= 252; ++c)
            map[c] = 'u';
        map[253] = 'y';
        map[255] = 'y';
        // 198 (AE), 230 (ae) and 247 (division sign) stay as they are.
    }
};

constexpr FoldTable kFold;

}  // namespace

void fold_to_ascii(char* text) {
    if (!text) return;
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p)
        *p = static_cast<unsigned char>(kFold.map[*p]);
}

void latin1_to_utf8(const char* latin1, char* out, size_t out_size) {
    if (!out || out_size == 0) return;
    size_t o = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(latin1); p && *p; ++p) {
        if (*p < 0x80) {
            if (o + 1 >= out_size) break;
            out[o++] = static_cast<char>(*p);
        } else {
            if (o + 2 >= out_size) break;
            out[o++] = static_cast<char>(0xC0 | (*p >> 6));
            out[o++] = static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    out[o] = 0;
}

bool utf8_to_latin1(const char* utf8, char* out, size_t out_size) {
    if (!utf8 || !out || out_size == 0) return false;
    size_t o = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p) {
        unsigned code;
        if (*p < 0x80) {
            code = *p++;
        } else if ((*p & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
            code = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
            if (code < 0x80) return false;  // overlong form
            p += 2;
        } else {
            return false;  // beyond Latin-1, or not UTF-8
        }
        if (code > 0xFF || o + 1 >= out_size) return false;
        out[o++] = static_cast<char>(code);
    }
    out[o] = 0;
    return true;
}

}  // namespace quarrow
