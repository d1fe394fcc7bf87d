#include "extract/stream_filters.h"

#include <cstring>

#include "fs/layout.h"

namespace quarrow {
namespace {

// Both searches look for the 0x01 of a 00 00 01 xx start code with memchr, which skips the
// compressed data between start codes many bytes at a time; the few hits are then checked whole.
// This is where extraction spends its computing time.

// First offset k in [from, to) where 00 00 01 C0/C1 starts and FF FC follows at k + 14; bytes
// k ... k + 15 must lie in the caller's data. Gives `to` when there is none.
int64_t find_pes_header(const uint8_t* p, int64_t from, int64_t to) {
    int64_t k = from;
    while (k < to) {
        const void* hit = memchr(p + k + 2, 0x01, static_cast<size_t>(to - k));
        if (!hit) return to;
        int64_t h = static_cast<const uint8_t*>(hit) - p;  // the 0x01, at k + 2
        k = h - 2;
        if (p[k] == 0 && p[k + 1] == 0 && (p[h + 1] & 0xFE) == 0xC0 && p[k + 14] == 0xFF &&
            p[k + 15] == 0xFC)
            return k;
        ++k;
    }
    return to;
}

bool pes_header_at(const uint8_t* p) {
    return is_audio_start_code(p) && p[14] == 0xFF && p[15] == 0xFC;
}

// First offset k in [from, to) with an audio start code, k + 3 inside the caller's data; -1 if
// none.
int64_t find_audio_start_code(const uint8_t* p, int64_t from, int64_t to) {
    int64_t k = from;
    while (k < to) {
        const void* hit = memchr(p + k + 2, 0x01, static_cast<size_t>(to - k));
        if (!hit) return -1;
        int64_t h = static_cast<const uint8_t*>(hit) - p;
        k = h - 2;
        if (p[k] == 0 && p[k + 1] == 0 && (p[h + 1] & 0xFE) == 0xC0) return k;
        ++k;
    }
    return -1;
}

bool write_bytes(const ByteSink* sink, const uint8_t* bytes, int64_t count) {
    return sink_write(sink, bytes, count);
}

bool file_sink_write(void* context, const ByteSpan* spans, int count) {
    return output_write(static_cast<OutputFile*>(context), spans, count);
}

// Audio output: gathered in the state, written when the buffer is full; a stretch larger than
// the buffer goes to the file directly.
bool write_audio(StreamFilterState* state, const ByteSink* file, const uint8_t* bytes,
                 int64_t count) {
    if (count <= 0) return true;
    if (state->audio_in_place) return write_bytes(file, bytes, count);
    if (state->audio_output_count + count > AUDIO_OUTPUT_BUFFER) {
        if (!flush_audio_output(state, file)) return false;
        if (count >= AUDIO_OUTPUT_BUFFER) return write_bytes(file, bytes, count);
    }
    memcpy(state->audio_output + state->audio_output_count, bytes, static_cast<size_t>(count));
    state->audio_output_count += static_cast<int>(count);
    return true;
}

// The header remover for data shorter than the look-ahead: such data cannot fill the carry's
// second half, so carry and data are examined together as one small window. As in the main path,
// offsets are examined in stream order while more than 16 bytes follow from them, so the bytes
// written do not depend on how the stream was cut.
int strip_short(StreamFilterState* state, const ByteSink* file, const uint8_t* bytes,
                int64_t count) {
    PesCarry& carry = state->pes_carry;
    uint8_t window[PES_LOOKAHEAD + PES_LOOKAHEAD];
    int n = carry.count;
    memcpy(window, carry.bytes, static_cast<size_t>(n));
    memcpy(window + n, bytes, static_cast<size_t>(count));
    n += static_cast<int>(count);
    int written_to = 0, k = 0;
    while (k + PES_LOOKAHEAD < n) {
        if (pes_header_at(window + k)) {
            if (!write_audio(state, file, window + written_to, k - written_to)) return 0;
            k += PES_HEADER_LENGTH;
            written_to = k;
        } else {
            ++k;
        }
    }
    if (!write_audio(state, file, window + written_to, k - written_to)) return 0;
    carry.count = n - k;
    memmove(carry.bytes, window + k, static_cast<size_t>(carry.count));
    return 1;
}

}  // namespace

bool sink_write(const ByteSink* sink, const void* bytes, int64_t count) {
    if (count <= 0) return true;
    ByteSpan span{bytes, size_t(count)};
    return sink->write(sink->context, &span, 1);
}

ByteSink output_file_sink(OutputFile* file) {
    return ByteSink{file, file_sink_write};
}

void reset_stream_filters(StreamFilterState* state) {
    state->video_waiting = true;
    state->audio_waiting = true;
    reset_pes_carry(state);
    // A tail left by a walk that ended while still waiting belongs to another recording.
    tail_drop(state);
    state->audio_output_count = 0;
    state->audio_in_place = false;
}

int flush_audio_output(StreamFilterState* state, const ByteSink* audio_file) {
    int count = state->audio_output_count;
    state->audio_output_count = 0;
    return write_bytes(audio_file, state->audio_output, count) ? 1 : 0;
}

int64_t find_sequence_header(const uint8_t* bytes, int64_t count, int64_t readable) {
    int64_t to = count < readable - 3 ? count : readable - 3;  // last start + 1
    int64_t k = 0;
    while (k < to) {
        const void* hit = memchr(bytes + k + 2, 0x01, static_cast<size_t>(to - k));
        if (!hit) return -1;
        int64_t h = static_cast<const uint8_t*>(hit) - bytes;
        k = h - 2;
        if (bytes[k] == 0 && bytes[k + 1] == 0 && bytes[h + 1] == 0xB3) return k;
        ++k;
    }
    return -1;
}

bool contains_sequence_header(const uint8_t* bytes, int64_t count, int64_t readable) {
    if (count == 0) return true;
    if (count < 0) return false;
    return find_sequence_header(bytes, count, readable) >= 0;
}

int look_ahead_sequence_header(const uint8_t* payload, const uint8_t* window_end,
                               bool more_loaded) {
    const int NEED_MORE = -1;
    for (const uint8_t* p = payload + SECTOR_SIZE;; p += SECTOR_SIZE) {
        if (window_end - p < SECTOR_SIZE) return more_loaded ? NEED_MORE : 0;
        uint32_t bytes;
        uint16_t sectors;
        if (!match_video_block(p, &bytes, &sectors)) continue;
        if (bytes == 0) return 1;
        const uint8_t* next = p + SECTOR_SIZE;
        // The code may reach three bytes past the byte count.
        if (more_loaded && window_end - next < int64_t(bytes) + 3) return NEED_MORE;
        // Only the part of the next payload that was loaded can be searched.
        int64_t readable = window_end - next;
        int64_t count = int64_t(bytes) < readable ? int64_t(bytes) : readable;
        return count > 0 && find_sequence_header(next, count, readable) >= 0 ? 1 : 0;
    }
}

bool sequence_header_ahead(const uint8_t* payload, const uint8_t* loaded_end) {
    return look_ahead_sequence_header(payload, loaded_end, false) == 1;
}

int write_video_block(StreamFilterState* state, const ByteSink* video_file, const uint8_t* payload,
                      int64_t count, int64_t readable) {
    if (state->video_waiting) {
        if (count <= 0) return 1;
        int64_t at = find_sequence_header(payload, count, readable);
        if (at < 0) return 1;  // the whole payload precedes the first sequence header
        state->video_waiting = false;
        return write_bytes(video_file, payload + at, count - at) ? 1 : 0;
    }
    return write_bytes(video_file, payload, count) ? 1 : 0;
}

bool is_audio_start_code(const uint8_t* bytes) {
    return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 &&
           (bytes[3] == 0xC0 || bytes[3] == 0xC1);
}

int write_audio_block(StreamFilterState* state, const ByteSink* audio_file, const uint8_t* payload,
                      int64_t count, int audio_type) {
    if (count < 0) count = 0;
    // The block to handle is the pending tail followed by the payload. It is never copied whole:
    // only offsets inside the tail need bytes of both, and for those a small joined window is
    // enough; the rest is read from the payload where it lies.
    int tail = tail_pending(state) ? state->pending_tail.length : 0;
    int64_t total = tail + count;
    int64_t start = 0;  // where the data to write begins, as an offset of the joined block
    if (state->audio_waiting) {
        int64_t found = -1;
        int64_t last = total - PENDING_TAIL_LENGTH;  // offsets 0 ... last are searched
        if (last >= 0 && tail > 0) {
            uint8_t window[PENDING_TAIL_LENGTH + 3];
            int n = tail_join(state, payload, count, window, sizeof window);
            int64_t to = last + 1 < tail ? last + 1 : tail;
            for (int64_t i = 0; i < to && i + 4 <= n && found < 0; ++i)
                if (is_audio_start_code(window + i)) found = i;
        }
        if (found < 0 && last >= tail) {
            int64_t at = find_audio_start_code(payload, 0, last - tail + 1);
            if (at >= 0) found = tail + at;
        }
        if (found < 0) {
            // Keep the last 28 bytes (all of them when there are fewer) for the next payload.
            if (count >= PENDING_TAIL_LENGTH) {
                tail_keep(state, payload + count - PENDING_TAIL_LENGTH, PENDING_TAIL_LENGTH);
            } else {
                uint8_t joined[2 * PENDING_TAIL_LENGTH];
                int n = tail_join(state, payload, count, joined, sizeof joined);
                tail_keep(state, joined, n);
            }
            return 1;
        }
        state->audio_waiting = false;
        start = found;
    }
    uint8_t tail_bytes[PENDING_TAIL_LENGTH];
    memcpy(tail_bytes, state->pending_tail.bytes, static_cast<size_t>(tail));
    tail_drop(state);
    const uint8_t* pieces[2] = {tail_bytes, payload};
    int64_t from[2] = {start < tail ? start : tail, start > tail ? start - tail : 0};
    int64_t to[2] = {tail, count};
    for (int i = 0; i < 2; ++i) {
        if (from[i] >= to[i]) continue;
        int ok = audio_type == AUDIO_TYPE_MPG
                     ? write_audio(state, audio_file, pieces[i] + from[i], to[i] - from[i])
                     : strip_pes_headers(state, audio_file, pieces[i] + from[i], to[i] - from[i]);
        if (!ok) return 0;
    }
    return 1;
}

int strip_pes_headers(StreamFilterState* state, const ByteSink* audio_file, const uint8_t* bytes,
                      int64_t count) {
    if (count <= 0) return 1;
    if (count < PES_LOOKAHEAD) return strip_short(state, audio_file, bytes, count);
    PesCarry& carry = state->pes_carry;
    int64_t skip = 0;
    int c = carry.count;
    if (c > 0) {
        // The carry's offsets need the data's first bytes to be judged as header starts.
        memcpy(carry.bytes + c, bytes, PES_LOOKAHEAD);
        int j = static_cast<int>(find_pes_header(carry.bytes, 0, c));
        if (!write_audio(state, audio_file, carry.bytes, j)) return 0;
        if (j < c - PES_HEADER_LENGTH) {
            // The header lies wholly in the carry.
            if (!write_audio(state, audio_file, carry.bytes + j + PES_HEADER_LENGTH,
                             c - j - PES_HEADER_LENGTH))
                return 0;
        } else if (j < c) {
            skip = j + PES_HEADER_LENGTH - c;  // the header goes on into this data
        } else {
            skip = pes_header_at(carry.bytes + c) ? PES_HEADER_LENGTH : 0;
        }
        carry.count = 0;
    }
    int64_t limit = count - PES_LOOKAHEAD;
    int64_t scan = skip;
    while (scan < limit) {
        int64_t k = find_pes_header(bytes, scan, limit);
        if (!write_audio(state, audio_file, bytes + scan, k - scan)) return 0;
        if (k >= limit) {
            scan = limit;
            break;
        }
        scan = k + PES_HEADER_LENGTH;
    }
    carry.count = static_cast<int>(count - scan);
    memcpy(carry.bytes, bytes + scan, static_cast<size_t>(carry.count));
    return 1;
}

void reset_pes_carry(StreamFilterState* state) {
    state->pes_carry.count = 0;
}

bool tail_pending(const StreamFilterState* state) {
    return state->pending_tail.exists;
}

void tail_keep(StreamFilterState* state, const uint8_t* bytes, int64_t length) {
    if (length > PENDING_TAIL_LENGTH) {
        bytes += length - PENDING_TAIL_LENGTH;
        length = PENDING_TAIL_LENGTH;
    }
    if (length < 0) length = 0;
    // memmove: the bytes may come from the tail itself.
    memmove(state->pending_tail.bytes, bytes, static_cast<size_t>(length));
    state->pending_tail.length = static_cast<int>(length);
    state->pending_tail.exists = true;
}

int tail_join(const StreamFilterState* state, const uint8_t* bytes, int64_t length, uint8_t* out,
              int out_size) {
    int n = tail_pending(state) ? state->pending_tail.length : 0;
    if (n > out_size) n = out_size;
    memcpy(out, state->pending_tail.bytes, static_cast<size_t>(n));
    int64_t more = length < out_size - n ? length : out_size - n;
    if (more > 0) memcpy(out + n, bytes, static_cast<size_t>(more));
    return n + static_cast<int>(more > 0 ? more : 0);
}

void tail_drop(StreamFilterState* state) {
    state->pending_tail.exists = false;
    state->pending_tail.length = 0;
}

}  // namespace quarrow
