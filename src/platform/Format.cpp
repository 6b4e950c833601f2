#include "platform/Format.h"

#include <cstdio>

namespace platform {

std::string formatString(std::string_view fmt, const Array& args) {
    std::string out;
    std::size_t next = 0;
    auto take = [&]() -> const Value& {
        static const Value none;
        return next < args.size() ? args[next++] : none;
    };
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c != '%') {
            out += c;
            continue;
        }
        // Collect flags, width, precision and length modifiers.
        std::size_t j = i + 1;
        std::string spec = "%";
        while (j < fmt.size() && std::string_view("-+ #0").find(fmt[j]) != std::string_view::npos)
            spec += fmt[j++];
        while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9')
            spec += fmt[j++];
        if (j < fmt.size() && fmt[j] == '.') {
            spec += fmt[j++];
            while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9')
                spec += fmt[j++];
        }
        while (j < fmt.size() && std::string_view("hlqLzjt").find(fmt[j]) != std::string_view::npos)
            ++j;
        if (j >= fmt.size()) {
            out += fmt.substr(i);
            break;
        }
        char conv = fmt[j];
        char buf[128];
        switch (conv) {
        case '%':
            out += '%';
            break;
        case '@':
            out += take().description();
            break;
        case 's': {
            const Value& v = take();
            std::string s = v.isNull() ? "(null)" : v.description();
            std::snprintf(buf, sizeof buf, (spec + "s").c_str(), s.c_str());
            out += s.size() + 64 < sizeof buf ? std::string(buf) : s;
            break;
        }
        case 'd':
        case 'i':
            std::snprintf(buf, sizeof buf, (spec + "lld").c_str(), static_cast<long long>(take().int64Value()));
            out += buf;
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            std::snprintf(buf, sizeof buf, (spec + "ll" + conv).c_str(),
                          static_cast<unsigned long long>(take().uint64Value()));
            out += buf;
            break;
        case 'c':
            out += static_cast<char>(take().intValue());
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            std::snprintf(buf, sizeof buf, (spec + conv).c_str(), take().doubleValue());
            out += buf;
            break;
        default:
            // Unknown conversion: keep the text as written.
            out += fmt.substr(i, j - i + 1);
            break;
        }
        i = j;
    }
    return out;
}

} // namespace platform
