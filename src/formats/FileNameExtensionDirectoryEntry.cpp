#include "formats/FileNameExtensionDirectoryEntry.h"

FileNameExtensionDirectoryEntry::FileNameExtensionDirectoryEntry(platform::ByteView b)
    : entry_type_(b.u8(0)), general_secondary_flags_(b.u8(1)), file_name_(b.utf16le(2, kUnits)) {
    file_name_.resize(kUnits, u'\0');
}

std::string FileNameExtensionDirectoryEntry::file_name_string() const {
    return lowByteText(file_name_);
}

std::string FileNameExtensionDirectoryEntry::lowByteText(std::u16string_view units) {
    std::string text;
    for (const char16_t unit : units) {
        const auto low = static_cast<unsigned char>(unit & 0xFF);
        if (low == 0) break;
        text.push_back(low < 0x80 ? static_cast<char>(low) : '?');
    }
    return text;
}
