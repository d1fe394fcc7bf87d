// The .nfo document: the record's fields in well-formed UTF-8 XML.
#include <gtest/gtest.h>

#include <cstring>

#include "extract/nfo_writer.h"
#include "fs/layout.h"

namespace quarrow {
namespace {

RecordingEntry entry(const char* title, const char* channel, uint8_t flags, int h, int m, int s) {
    RecordingEntry e{};
    strncpy(e.display_title, title, sizeof e.display_title - 1);
    strncpy(e.channel, channel, sizeof e.channel - 1);
    e.flags = flags;
    attribute_text(flags, e.attribute_text);
    e.hours = h;
    e.minutes = m;
    e.seconds = s;
    return e;
}

TEST(NfoDocument, HoldsTheRecordEscapedAndInUtf8) {
    struct Case {
        const char* what;
        RecordingEntry e;
        int64_t start;
        std::vector<const char*> present, absent;
    } cases[] = {
        {"reserved characters and Latin-1",
         entry("Tom & Jerry <\"Caf\xE9\">", "TV5\x86MONDE", FLAG_PERMANENT | FLAG_LOCKED, 1, 29,
               31),
         1040754600,
         {"<title>Tom &amp; Jerry &lt;&quot;Caf\xC3\xA9&quot;&gt;</title>",
          "<studio>TV5 MONDE</studio>", "<premiered>2002-12-24</premiered>", "<year>2002</year>",
          "<dateadded>2002-12-24 18:30:00</dateadded>", "<runtime>90</runtime>",
          "<tag>Permanent</tag>", "<tag>Locked</tag>"},
         {}},
        {"no date, no channel, a short recording",
         entry("\x01News\x1F", "", 0, 0, 0, 12),
         -1,
         {"<title>News</title>", "<runtime>1</runtime>", "<tag>Erasable</tag>"},
         {"<studio>", "<premiered>", "<year>", "Locked"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string doc = nfo_document(c.e, c.start);
        EXPECT_EQ(doc.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u) << doc;
        EXPECT_NE(doc.find("<movie>\n"), std::string::npos) << doc;
        EXPECT_NE(doc.find("</movie>\n"), std::string::npos) << doc;
        for (const char* text : c.present)
            EXPECT_NE(doc.find(text), std::string::npos) << text << "\n" << doc;
        for (const char* text : c.absent)
            EXPECT_EQ(doc.find(text), std::string::npos) << text << "\n" << doc;
        for (unsigned char ch : doc)
            EXPECT_TRUE(ch >= 0x20 || ch == '\n') << int(ch);
    }
}

}  // namespace
}  // namespace quarrow
