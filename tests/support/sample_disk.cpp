#include "support/sample_disk.h"

#include <algorithm>

#include "fs/layout.h"

namespace quarrow::test {
namespace {

std::vector<uint8_t> repeat(const std::vector<uint8_t>& bytes, int times) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size() * size_t(times));
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

// A recording of `passes` plays of the fixture media; the video and the audio PES stream may
// begin part-way (a recording that started in the middle of a group of pictures and of an audio
// packet), and the duration follows the share of the video that was kept.
TestRecording broadcast(const SampleMedia& media, int passes, size_t video_skip, size_t audio_skip,
                        uint32_t video_sectors_per_block) {
    std::vector<uint8_t> video = repeat(media.video, passes);
    std::vector<uint8_t> pes = audio_pes_stream(repeat(media.audio, passes), 1, 90000);
    video.erase(video.begin(), video.begin() + std::min(video_skip, video.size()));
    pes.erase(pes.begin(), pes.begin() + std::min(audio_skip, pes.size()));
    TestRecording r;
    r.data = broadcast_blocks(video, pes, video_sectors_per_block, 1800);
    uint64_t whole = uint64_t(media.video.size()) * passes;
    r.duration =
        uint32_t(uint64_t(SAMPLE_PASS_HUNDREDTHS) * passes * video.size() / (whole ? whole : 1));
    return r;
}

}  // namespace

bool load_sample_media(const std::string& dir, SampleMedia* media) {
    std::string base = dir.empty() ? fixture_path("") : dir + "/";
    media->video = read_file_bytes(base + "sample.m2v");
    media->audio = read_file_bytes(base + "sample.mp2");
    return !media->video.empty() && !media->audio.empty();
}

TestDisk sample_disk(const SampleMedia& media) {
    TestDisk disk;
    disk.cluster_count = SAMPLE_CLUSTER_COUNT;
    disk.recordings.reserve(5);

    // Titles and channel names are Latin-1 as the receiver stores them. The fixture video is a
    // small picture at a low rate, so one group of pictures takes only about 50 sectors: video
    // blocks of 16 to 40 sectors keep a broadcast's rhythm, where a sequence header opens only
    // every second to fourth block, and so auto video sync lets the audio through.
    TestRecording news = broadcast(media, 2, 0, 0, 24);
    news.default_title =
        "Nachrichten - S\xFC"
        "d";  // Süd
    news.channel = "SWR Fernsehen";
    news.flags = 0x00;             // Erasable
    news.start_time = 1039205700;  // 06-12-2002 20:15:00 GMT
    news.start_offset = 32;        // the receiver's data begins a little into the cluster
    news.key = 0x3DF10A01;
    disk.recordings.push_back(news);

    TestRecording cafe = broadcast(media, 1, 20000, 1000, 16);
    cafe.default_title = "Caf\xE9 No\xEBl";  // Café Noël
    cafe.channel = "TV5MONDE";
    cafe.flags = FLAG_PERMANENT | FLAG_LOCKED;
    cafe.start_time = 1040754600;  // 24-12-2002 18:30:00 GMT
    cafe.key = 0x3E08A8A2;
    disk.recordings.push_back(cafe);

    // Long enough to fill two clusters and part of a third; the chain runs 9 -> 4 -> 6.
    TestRecording journey = broadcast(media, 66, 0, 0, 32);
    journey.default_title =
        "Gro\xDF"
        "e Reise durch \xD6sterreich";              // Große Reise durch Österreich
    journey.user_title = "Urlaubsfilm f\xFCr Oma";  // Urlaubsfilm für Oma
    journey.channel = "3sat";
    journey.flags = FLAG_PAUSE;
    journey.clusters = {9, 4, 6};
    journey.start_time = 1042225200;  // 10-01-2003 19:00:00 GMT
    journey.key = 0x3E1F1833;
    disk.recordings.push_back(journey);

    TestRecording untitled = broadcast(media, 1, 0, 0, 20);
    untitled.channel = "arte";  // no user and no default title: the list shows the channel
    untitled.flags = FLAG_LOCKED;
    untitled.start_time = 1044110700;  // 01-02-2003 14:45:00 GMT
    untitled.key = 0x3E3BDC64;
    disk.recordings.push_back(untitled);

    TestRecording ski = broadcast(media, 2, 0, 0, 40);
    ski.default_title = "Ski alpin: Abfahrt der Herren";
    ski.user_title = "Ski-WM \xC5re";  // Ski-WM Åre
    ski.channel = "ORF 1";
    ski.flags = FLAG_PAUSE | FLAG_PERMANENT | FLAG_LOCKED;  // Pause wins over Permanent
    ski.start_time = 1045391400;                            // 16-02-2003 10:30:00 GMT
    ski.key = 0x3E4F6A05;
    disk.recordings.push_back(ski);
    return disk;
}

bool write_sample_disk(TestDisk& disk, DiskHandle out) {
    if (!write_test_disk(disk, out)) return false;
    // A recording in the last cluster has written its whole data area already.
    for (const TestRecording& r : disk.recordings)
        for (uint16_t c : r.clusters)
            if (c + 1 >= disk.cluster_count) return true;
    uint8_t zero[SECTOR_SIZE] = {0};
    int64_t last_sector = int64_t(disk.cluster_count + 1) * CLUSTER_SECTORS - 1;
    return out->write_at(out, last_sector * SECTOR_SIZE, zero, SECTOR_SIZE) == SECTOR_SIZE;
}

bool write_sample_image(const std::string& path) {
    SampleMedia media;
    if (!load_sample_media("", &media)) return false;
    TestDisk disk = sample_disk(media);
    DiskHandle out = create_output_file(path.c_str());
    bool ok = out && write_sample_disk(disk, out);
    close_disk(out);
    return ok;
}

}  // namespace quarrow::test
