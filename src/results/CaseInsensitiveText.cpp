#include "results/CaseInsensitiveText.h"

#include "volume/NewDir.h"

#include <algorithm>
#include <locale.h>
#include <wctype.h>

namespace {

locale_t unicodeLocale() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return loc;
}

char32_t lower(char32_t c) {
    if (c < 0x80) return (c >= U'A' && c <= U'Z') ? c + 32 : c;
    if (locale_t loc = unicodeLocale()) return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc));
    return c;
}

} // namespace

std::u32string CaseInsensitiveText::fold(std::string_view utf8) {
    const std::u16string units = newdir::utf16(utf8);
    std::u32string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        out.push_back(lower(c));
    }
    return out;
}

bool CaseInsensitiveText::contains(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return false;
    const std::u32string h = fold(haystack);
    const std::u32string n = fold(needle);
    return h.find(n) != std::u32string::npos;
}

int CaseInsensitiveText::compare(std::string_view a, std::string_view b) {
    const std::u32string fa = fold(a);
    const std::u32string fb = fold(b);
    return fa.compare(fb) < 0 ? -1 : (fa == fb ? 0 : 1);
}
