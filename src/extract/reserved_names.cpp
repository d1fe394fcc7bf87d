#include <cctype>
#include <cstring>
#include <string>

#include "extract/output_name.h"

namespace quarrow {

bool names_reserved_device(const char* prefix) {
    if (!prefix) return false;
    // Windows looks at the name before the first dot, without the spaces that end it.
    std::string base(prefix, strcspn(prefix, "."));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace quarrow
