#include "extract/mpeg_audio.h"

#include <cstddef>

namespace quarrow {
namespace {

const int BITRATES[2][3][15] = {
    // MPEG-1: Layer I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    // The half rates: Layer I, II, III
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
const int SAMPLE_RATES[3] = {44100, 48000, 32000};

// CRC-16 of the frame check, polynomial 0x8005, MSB first, over whole bytes and then zero bits.
uint16_t crc_step(uint16_t crc, int bit) {
    bool top = (crc >> 15) & 1;
    crc = uint16_t(crc << 1);
    return (top != bool(bit)) ? uint16_t(crc ^ 0x8005) : crc;
}

// Bits of Layer II bit allocation in a frame: the table follows from the bit rate per channel
// and the sampling rate (ISO/IEC 11172-3 tables B.2a to B.2d; one table for the half rates).
int layer2_allocation_bits(const AudioFrameHeader& h, int bound_code, bool joint) {
    int per_channel = h.bitrate_kbps / h.channels;
    // Bit-allocation field widths per subband of each table.
    static const int A[30] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3,
                              3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2};
    static const int C[12] = {4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
    static const int L[30] = {4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2,
                              2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    const int* widths;
    int sblimit;
    if (h.lsf) {
        widths = L, sblimit = 30;
    } else if ((h.sample_rate == 48000 && per_channel >= 56) ||
               (per_channel >= 56 && per_channel <= 80)) {
        widths = A, sblimit = 27;
    } else if (h.sample_rate != 48000 && per_channel >= 96) {
        widths = A, sblimit = 30;
    } else if (h.sample_rate != 32000 && per_channel <= 48) {
        widths = C, sblimit = 8;
    } else {
        widths = C, sblimit = 12;
    }
    int bound = joint ? 4 * (bound_code + 1) : sblimit;
    if (bound > sblimit) bound = sblimit;
    int bits = 0;
    for (int sb = 0; sb < sblimit; ++sb)
        bits += widths[sb] * (sb < bound ? h.channels : 1);
    return bits;
}

}  // namespace

bool parse_audio_frame_header(const uint8_t* p, AudioFrameHeader* out) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    int version = (p[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    int layer_bits = (p[1] >> 1) & 3;
    int rate_index = p[2] >> 4;
    int sr_index = (p[2] >> 2) & 3;
    if (version == 1 || layer_bits == 0 || rate_index == 0 || rate_index == 15 || sr_index == 3)
        return false;
    AudioFrameHeader h;
    h.layer = 4 - layer_bits;
    h.lsf = version != 3;
    h.bitrate_kbps = BITRATES[h.lsf ? 1 : 0][h.layer - 1][rate_index];
    h.sample_rate = SAMPLE_RATES[sr_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    h.crc = (p[1] & 1) == 0;
    int padding = (p[2] >> 1) & 1;
    int64_t bits_per_second = int64_t(h.bitrate_kbps) * 1000;
    if (h.layer == 1) {
        h.bytes = int((12 * bits_per_second / h.sample_rate + padding) * 4);
        h.samples = 384;
    } else if (h.layer == 2 || !h.lsf) {
        h.bytes = int(144 * bits_per_second / h.sample_rate + padding);
        h.samples = 1152;
    } else {
        h.bytes = int(72 * bits_per_second / h.sample_rate + padding);
        h.samples = 576;
    }
    if (h.bytes < 8) return false;
    *out = h;
    return true;
}

std::vector<uint8_t> silent_audio_frame(const uint8_t* header) {
    AudioFrameHeader h;
    uint8_t p[4] = {header[0], header[1], uint8_t(header[2] & ~0x02), header[3]};  // no padding
    if (!parse_audio_frame_header(p, &h)) return {};
    std::vector<uint8_t> frame(size_t(h.bytes), 0);
    for (int i = 0; i < 4; ++i)
        frame[size_t(i)] = p[i];
    if (!h.crc) return frame;
    bool joint = (p[3] >> 6) == 1;
    int bound_code = (p[3] >> 4) & 3;
    // The bits the check covers after the header's last two bytes: all zero in a silent frame.
    int zero_bits;
    if (h.layer == 1) {
        int bound = joint ? 4 * (bound_code + 1) : 32;
        zero_bits = 4 * (bound * h.channels + (32 - bound));
    } else if (h.layer == 2) {
        zero_bits = layer2_allocation_bits(h, bound_code, joint);
    } else {
        zero_bits = 8 * (h.lsf ? (h.channels == 1 ? 9 : 17) : (h.channels == 1 ? 17 : 32));
    }
    uint16_t crc = 0xFFFF;
    for (int byte = 2; byte < 4; ++byte)
        for (int bit = 7; bit >= 0; --bit)
            crc = crc_step(crc, (p[byte] >> bit) & 1);
    for (int i = 0; i < zero_bits; ++i)
        crc = crc_step(crc, 0);
    frame[4] = uint8_t(crc >> 8);
    frame[5] = uint8_t(crc);
    return frame;
}

}  // namespace quarrow
