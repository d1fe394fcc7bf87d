// The sample MediaMaster disk: five recordings of real MPEG-2 video and MPEG-1 Layer II audio
// (the committed fixture media, repeated and laid out as stream blocks the way the receiver
// records a broadcast), with Latin-1 titles, assorted flags, dates and durations that match the
// media, one recording spread over three clusters along a descending-then-ascending chain and
// one with neither a user nor a default title. Written by tools/make_sample_disk and built
// directly by the tests.
#pragma once

#include <string>
#include <vector>

#include "disk/sector_access.h"
#include "support/disk_builder.h"

namespace quarrow::test {

constexpr uint16_t SAMPLE_CLUSTER_COUNT = 48;
// The media's play time: both fixture files hold 3 seconds.
constexpr uint32_t SAMPLE_PASS_HUNDREDTHS = 300;

struct SampleMedia {
    std::vector<uint8_t> video;  // sample.m2v
    std::vector<uint8_t> audio;  // sample.mp2
};

// Reads sample.m2v and sample.mp2 from dir (the source tree's tests/fixtures when empty); false
// when either is missing or empty.
bool load_sample_media(const std::string& dir, SampleMedia* media);

// The sample disk's description, recordings oldest first (Table of Contents slot order).
TestDisk sample_disk(const SampleMedia& media);

// Writes the sample disk through out and extends it to the disk's full size (the last sector of
// the last cluster), so that an image file covers every cluster; sparse where nothing is written.
// false when a write fails.
bool write_sample_disk(TestDisk& disk, DiskHandle out);

// The README's sample disk from the committed fixture media as an image file at path; false when
// the media cannot be read or the image cannot be written.
bool write_sample_image(const std::string& path);

}  // namespace quarrow::test
