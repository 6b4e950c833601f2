#include "platform/SystemLog.h"

#include "platform/TextEncoding.h"

#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace platform {

namespace {
std::mutex gLogMutex;
std::function<void(const std::string&)> gSink;
bool gOpened = false;

void appendHex(std::string& out, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

// Bytes of the well-formed multi-byte UTF-8 character at text[i], or 0.
// Such sequences are prefix-free, so the shortest well-formed run is it.
std::size_t characterLength(std::string_view text, std::size_t i) {
    for (std::size_t n = 2; n <= 4 && i + n <= text.size(); ++n)
        if (isValidUtf8(text.substr(i, n))) return n;
    return 0;
}
} // namespace

std::string escapedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\\')
                out += "\\\\";
            else if (c == '\n')
                out += "\\n";
            else if (c == '\t')
                out += "\\t";
            else if (c == '\r')
                out += "\\r";
            else if (c < 0x20 || c == 0x7F)
                appendHex(out, c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t n = characterLength(text, i);
        if (n == 0) {
            appendHex(out, c);
            ++i;
            continue;
        }
        // U+0080..U+009F, the C1 controls, are C2 80..C2 9F.
        const bool c1 = c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        for (std::size_t k = 0; k < n; ++k) {
            if (c1)
                appendHex(out, static_cast<unsigned char>(text[i + k]));
            else
                out += text[i + k];
        }
        i += n;
    }
    return out;
}

void logLine(const std::string& line) {
    const std::string shown = escapedText(line);
    std::lock_guard lock(gLogMutex);
    if (gSink) {
        gSink(shown);
        return;
    }
    if (!gOpened) {
        openlog("drentic-recovery", LOG_PID, LOG_USER);
        gOpened = true;
    }
    syslog(LOG_NOTICE, "%s", shown.c_str());
    std::fprintf(stderr, "drentic-recovery: %s\n", shown.c_str());
}

void setLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(gLogMutex);
    gSink = std::move(sink);
}

} // namespace platform
