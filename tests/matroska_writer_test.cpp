// The EBML element encoding and the Matroska writer's file structure, fed the fixture media.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "extract/ebml.h"
#include "extract/matroska_writer.h"
#include "support/matroska_media.h"
#include "support/sample_disk.h"
#include "support/temp_files.h"

namespace quarrow::test {
namespace {

// One element's ID, content size and where its content starts; false past the end.
struct Element {
    uint32_t id = 0;
    uint64_t size = 0;
    size_t content = 0;
};
bool read_element(const std::vector<uint8_t>& b, size_t at, Element* e) {
    if (at >= b.size()) return false;
    int id_len = b[at] >= 0x80 ? 1 : b[at] >= 0x40 ? 2 : b[at] >= 0x20 ? 3 : 4;
    e->id = 0;
    for (int i = 0; i < id_len; ++i)
        e->id = (e->id << 8) | b[at + size_t(i)];
    at += size_t(id_len);
    int len = 1;
    while (len <= 8 && !(b[at] & (0x80 >> (len - 1))))
        ++len;
    e->size = b[at] & (0xFF >> len);
    for (int i = 1; i < len; ++i)
        e->size = (e->size << 8) | b[at + size_t(i)];
    e->content = at + size_t(len);
    return e->content + e->size <= b.size();
}

uint64_t read_uint(const std::vector<uint8_t>& b, const Element& e) {
    uint64_t v = 0;
    for (uint64_t i = 0; i < e.size; ++i)
        v = (v << 8) | b[e.content + i];
    return v;
}

TEST(Ebml, SizeFieldsTakeTheShortestLengthAcrossEveryBoundary) {
    struct Case {
        uint64_t size;
        int length;
        uint8_t first;  // the marker bit with the value's top bits
    } cases[] = {
        {0, 1, 0x80},
        {126, 1, 0xFE},
        {127, 2, 0x40},  // 0xFF alone would mean "unknown size"
        {16382, 2, 0x7F},
        {16383, 3, 0x20},
        {(1u << 21) - 2, 3, 0x3F},
        {(1u << 21) - 1, 4, 0x10},
        {(1u << 28) - 1, 5, 0x08},
        {(uint64_t(1) << 35) - 1, 6, 0x04},
        {(uint64_t(1) << 42) - 1, 7, 0x02},
        {(uint64_t(1) << 49) - 1, 8, 0x01},
        {EBML_MAX_SIZE, 8, 0x01},
        {EBML_MAX_SIZE + 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ASSERT_EQ(ebml_size_length(c.size), c.length);
        if (c.length == 0) continue;
        EbmlBytes out;
        ebml_size(out, c.size);
        ASSERT_EQ(out.size(), size_t(c.length));
        EXPECT_EQ(out[0], c.first);
        uint64_t back = out[0] & (0xFF >> c.length);
        for (int i = 1; i < c.length; ++i)
            back = (back << 8) | out[size_t(i)];
        EXPECT_EQ(back, c.size);
    }
}

TEST(Ebml, IdsIntegersAndMastersAreWrittenAtTheirLengths) {
    struct Case {
        const char* what;
        EbmlBytes (*make)();
        std::vector<uint8_t> expected;
    } cases[] = {
        {"one-byte id, zero in one byte",
         [] {
             EbmlBytes o;
             ebml_uint(o, 0xEC, 0);
             return o;
         },
         {0xEC, 0x81, 0x00}},
        {"two-byte id, 256 in two bytes",
         [] {
             EbmlBytes o;
             ebml_uint(o, 0x4286, 256);
             return o;
         },
         {0x42, 0x86, 0x82, 0x01, 0x00}},
        {"three-byte id",
         [] {
             EbmlBytes o;
             ebml_uint(o, 0x2AD7B1, 1000000);
             return o;
         },
         {0x2A, 0xD7, 0xB1, 0x83, 0x0F, 0x42, 0x40}},
        {"four-byte id, forced width",
         [] {
             EbmlBytes o;
             ebml_uint(o, 0x1A45DFA3, 5, 8);
             return o;
         },
         {0x1A, 0x45, 0xDF, 0xA3, 0x88, 0, 0, 0, 0, 0, 0, 0, 5}},
        {"float",
         [] {
             EbmlBytes o;
             ebml_float(o, 0x4489, 1.5);
             return o;
         },
         {0x44, 0x89, 0x88, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0}},
        {"master closed to a one-byte size",
         [] {
             EbmlBytes o;
             size_t at = ebml_open(o, 0xE0);
             ebml_string(o, 0x86, "ab");
             ebml_close(o, at);
             return o;
         },
         {0xE0, 0x84, 0x86, 0x82, 'a', 'b'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.make(), c.expected);
    }
    // A master whose content needs a two-byte size keeps all of its content.
    EbmlBytes o;
    size_t at = ebml_open(o, 0xE0);
    ebml_binary(o, 0x63A2, std::vector<uint8_t>(200, 7).data(), 200);
    ebml_close(o, at);
    ASSERT_EQ(o.size(), 1 + 2 + 2 + 2 + 200u);
    EXPECT_EQ(o[1], 0x40);
    EXPECT_EQ(o[2], 204);
    EXPECT_EQ(o.back(), 7);
}

struct Fixture : ::testing::Test {
    SampleMedia media;
    void SetUp() override { ASSERT_TRUE(load_sample_media("", &media)); }
};

// Chapters given at the start; known only at the end (in the room kept for them, or after the
// media when they are too many for it).
struct ChapterCase {
    bool at_end;
    int count;
    bool after_media;
};
const ChapterCase CHAPTER_CASES[] = {{false, 2, false}, {true, 2, false}, {true, 400, true}};

TEST_F(Fixture, FileHoldsEveryUnitAndItsSeekHeadPointsAtWhatItNames) {
    for (const ChapterCase& chapter_case : CHAPTER_CASES) {
        SCOPED_TRACE(chapter_case.count);
        MemoryMatroska file;
        FixtureMatroska made;
        made.params.title = "Caf\xc3\xa9 & News";
        made.params.chapters = {{0, "Start"}, {1500, "Middle"}};
        for (int i = 2; i < chapter_case.count; ++i)
            made.params.chapters.push_back({1500 + i, "Chapter " + std::to_string(i)});
        made.params.chapters_at_end = chapter_case.at_end;
        ASSERT_TRUE(write_fixture_matroska(media.video, media.audio, &file, &made));
        const std::vector<uint8_t>& b = file.bytes;
        Element header, segment;
        ASSERT_TRUE(read_element(b, 0, &header));
        EXPECT_EQ(header.id, 0x1A45DFA3u);
        ASSERT_TRUE(read_element(b, header.content + header.size, &segment));
        EXPECT_EQ(segment.id, 0x18538067u);
        EXPECT_EQ(segment.content + segment.size, b.size());

        // Every child of the Segment, by position from its content's start.
        std::vector<std::pair<uint64_t, uint32_t>> children;
        double duration = -1;
        for (size_t at = segment.content; at < b.size();) {
            Element e;
            ASSERT_TRUE(read_element(b, at, &e)) << at;
            children.push_back({at - segment.content, e.id});
            if (e.id == 0x1549A966)  // Info: its Duration
                for (size_t in = e.content; in < e.content + e.size;) {
                    Element f;
                    ASSERT_TRUE(read_element(b, in, &f));
                    if (f.id == 0x4489) {
                        uint64_t bits = read_uint(b, f);
                        memcpy(&duration, &bits, 8);
                    }
                    in = f.content + f.size;
                }
            at = e.content + e.size;
        }
        ASSERT_EQ(children[0].second, 0x114D9B74u);
        Element seek_head;
        ASSERT_TRUE(read_element(b, segment.content, &seek_head));
        int entries = 0;
        for (size_t at = seek_head.content; at < seek_head.content + seek_head.size; ++entries) {
            Element seek, id, pos;
            ASSERT_TRUE(read_element(b, at, &seek));
            ASSERT_TRUE(read_element(b, seek.content, &id));
            ASSERT_TRUE(read_element(b, id.content + id.size, &pos));
            uint32_t named = uint32_t(read_uint(b, id));
            uint64_t where = read_uint(b, pos);
            bool found = false;
            for (const auto& c : children)
                found = found || (c.first == where && c.second == named);
            EXPECT_TRUE(found) << std::hex << named << " at " << std::dec << where;
            at = seek.content + seek.size;
        }
        EXPECT_EQ(entries, 5);  // Info, Tracks, Tags, Chapters, Cues

        int64_t key_pictures = 0;
        for (const MediaUnit& u : made.pictures)
            key_pictures += u.key;
        EXPECT_EQ(made.counts.video_blocks, int64_t(made.pictures.size()));
        EXPECT_EQ(made.counts.audio_blocks, int64_t(made.frames.size()));
        EXPECT_EQ(made.counts.cue_points, key_pictures);
        EXPECT_EQ(children.back().second, 0x1C53BB6Bu);  // the Cues come last
        EXPECT_NEAR(made.counts.duration_ms, 3000, 60);
        EXPECT_EQ(duration, double(made.counts.duration_ms));
        size_t chapters = 0, cluster = 0;
        for (size_t i = 0; i < children.size(); ++i) {
            if (children[i].second == 0x1043A770u) chapters = i;
            if (children[i].second == 0x1F43B675u && cluster == 0) cluster = i;
        }
        EXPECT_GT(chapters, 0u);
        EXPECT_EQ(chapters > cluster, chapter_case.after_media);
    }
}

TEST_F(Fixture, EveryRefusedWriteFailsTheFile) {
    MemoryMatroska good;
    FixtureMatroska made;
    ASSERT_TRUE(write_fixture_matroska(media.video, media.audio, &good, &made));
    MemoryMatroska counting;
    counting.fail_write = 1 << 30;
    ASSERT_TRUE(write_fixture_matroska(media.video, media.audio, &counting, &made));
    ASSERT_GT(counting.writes, 4);
    for (int k = 1; k <= counting.writes; ++k) {
        MemoryMatroska failing;
        failing.fail_write = k;
        EXPECT_FALSE(write_fixture_matroska(media.video, media.audio, &failing, &made)) << k;
    }
}

TEST_F(Fixture, BlocksGoOutAtEachFlushAndAFileCutOffReadsToItsLastBlock) {
    // Five passes of the pictures, each handed over from one buffer that is scribbled over once
    // flushed: the file must hold the pictures as they were, not what the buffer holds later.
    int64_t period = 0;
    std::vector<MediaUnit> pictures = split_pictures(media.video, &period);
    MatroskaParams p;
    ASSERT_TRUE(matroska_video_from_sequence(media.video.data(), media.video.size(), &p.video));
    MemoryMatroska file;
    MatroskaWriter* w = create_matroska_writer(p, memory_output(&file));
    ASSERT_NE(w, nullptr);
    int64_t pass = int64_t(pictures.size()) * period;
    std::vector<uint8_t> scratch;
    for (int copy = 0; copy < 5; ++copy)
        for (const MediaUnit& u : pictures) {
            scratch.assign(media.video.begin() + long(u.at),
                           media.video.begin() + long(u.at + u.size));
            ByteSpan piece{scratch.data(), scratch.size()};
            ASSERT_TRUE(matroska_video(w, &piece, 1, u.pts + copy * pass, u.key));
            ASSERT_TRUE(matroska_flush(w));
            std::fill(scratch.begin(), scratch.end(), 0xEE);
        }
    // Cut off here: the Segment and the last Cluster read "unknown", every Cluster before it has
    // its size, and all the blocks are there as given.
    const uint8_t unknown[] = {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    auto is_unknown = [&](size_t at) {
        return std::equal(unknown, unknown + 8, file.bytes.begin() + long(at));
    };
    Element header;
    ASSERT_TRUE(read_element(file.bytes, 0, &header));
    size_t at = header.content + header.size;
    ASSERT_TRUE(is_unknown(at + 4));
    at += 12;
    size_t blocks = 0, clusters = 0;
    bool open_last = false;
    while (at < file.bytes.size()) {
        Element e;
        bool whole = read_element(file.bytes, at, &e);
        if (e.id == 0x1F43B675u) {
            ++clusters;
            open_last = !whole;
            if (!whole) {
                ASSERT_TRUE(is_unknown(at + 4));
            }
            size_t end = whole ? e.content + e.size : file.bytes.size();
            for (size_t in = e.content; in < end;) {
                Element b;
                ASSERT_TRUE(read_element(file.bytes, in, &b)) << in;
                if (b.id == 0xA3u) {
                    const MediaUnit& u = pictures[blocks++ % pictures.size()];
                    ASSERT_EQ(b.size, u.size + 4);
                    EXPECT_TRUE(std::equal(file.bytes.begin() + long(b.content + 4),
                                           file.bytes.begin() + long(b.content + b.size),
                                           media.video.begin() + long(u.at)))
                        << blocks;
                }
                in = b.content + b.size;
            }
            at = end;
        } else {
            ASSERT_TRUE(whole) << at;
            at = e.content + e.size;
        }
    }
    EXPECT_TRUE(open_last);
    EXPECT_EQ(blocks, 5 * pictures.size());
    ASSERT_TRUE(finish_matroska(w));
    MatroskaCounts counts = matroska_counts(w);
    destroy_matroska_writer(w);
    EXPECT_EQ(counts.clusters, int64_t(clusters));
    EXPECT_EQ(counts.video_blocks, int64_t(blocks));
}

TEST(OutputFilePatch, OverwritesOnlyWhatIsWrittenAndLaterWritesStillAppend) {
    TempDir dir;
    std::string name = dir.file("patched.mkv");
    OutputFilePtr file(begin_output_file(name.c_str()));
    ASSERT_TRUE(file && output_write(file.get(), "abcdef", 6));
    struct Case {
        int64_t offset;
        const char* bytes;
        bool ok;
    } cases[] = {{2, "XY", true}, {4, "ef", true}, {5, "12", false}, {-1, "Q", false}};
    for (const Case& c : cases)
        EXPECT_EQ(output_write_at(file.get(), c.offset, c.bytes, strlen(c.bytes)), c.ok)
            << c.offset;
    ASSERT_TRUE(output_write(file.get(), "gh", 2));
    ASSERT_TRUE(commit_output_file(file.release()));
    std::vector<uint8_t> back = read_file_at(name, 0, 8);
    EXPECT_EQ(std::string(back.begin(), back.end()), "abXYefgh");
}

}  // namespace
}  // namespace quarrow::test
