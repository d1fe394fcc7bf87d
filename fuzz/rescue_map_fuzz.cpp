// The rescue map's parser on any text: it never reads past the text, and a map it accepts is
// well formed (blocks from byte 0, contiguous, never empty, neighbours of different status) and
// comes back the same through its own text: parse, format, parse gives the same map and the
// same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "disk/rescue_map.h"

using namespace quarrow;

namespace {

void check(bool ok) {
    if (!ok) abort();
}

bool same(const RescueMap& a, const RescueMap& b) {
    if (a.current_pos != b.current_pos || a.current_status != b.current_status ||
        a.current_pass != b.current_pass || a.blocks.size() != b.blocks.size())
        return false;
    for (size_t i = 0; i < a.blocks.size(); ++i)
        if (a.blocks[i].pos != b.blocks[i].pos || a.blocks[i].size != b.blocks[i].size ||
            a.blocks[i].status != b.blocks[i].status)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    RescueMap map;
    char message[MESSAGE_SIZE] = "";
    if (!parse_rescue_map(text, &map, message)) return 0;
    int64_t at = 0;
    for (size_t i = 0; i < map.blocks.size(); ++i) {
        const MapBlock& b = map.blocks[i];
        check(b.pos == at && b.size > 0);
        check(i == 0 || map.blocks[i - 1].status != b.status);
        at = b.end();
    }
    std::string formatted = format_rescue_map(map, "fuzz");
    RescueMap again;
    check(parse_rescue_map(formatted, &again, message));
    check(same(map, again));
    check(format_rescue_map(again, "fuzz") == formatted);
    return 0;
}
