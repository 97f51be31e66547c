// Helpers of the XML playlist tests: parse, list, write, and check that XML is well-formed.
#pragma once

#include <expat.h>

#include <memory>
#include <string>
#include <vector>

#include "formats/xml.h"
#include "tests/support.h"

using Strings = std::vector<std::string>;

inline const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Bytes shown readably in a failure message.
inline std::string Show(const std::string& bytes) {
    std::string shown;
    for (unsigned char c : bytes.substr(0, 400)) {
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            shown += "\\x" + std::string(1, "0123456789ABCDEF"[c >> 4]) +
                     std::string(1, "0123456789ABCDEF"[c & 15]);
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

// UTF-8 text as UTF-16 bytes, little- or big-endian; a declaration says so.
inline std::string ToUtf16(std::string utf8, bool littleEndian) {
    size_t declared = utf8.find("encoding=\"UTF-8\"");
    if (declared != std::string::npos) {
        utf8.replace(declared, 16, "encoding=\"UTF-16\"");
    }
    std::u16string units;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        unsigned value = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n && i + k < utf8.size(); ++k) {
            value = value << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        if (value >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(value);
        }
        i += n;
    }
    return littleEndian ? Utf16Le(units) : Utf16Be(units);
}

// A parsed playlist, freed at the end of the scope.
struct Parsed {
    XmlPlaylist P;
    explicit Parsed(const std::string& bytes) {
        if (!ReadXmlPlaylist(Bytes(bytes), bytes.size(), &P)) {
            ADD_FAILURE() << "out of memory";
        }
    }
    ~Parsed() { FreeXmlPlaylist(&P); }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;
};

// What each entry names, "-" for none.
inline Strings Locations(const XmlPlaylist& p) {
    Strings locations;
    for (size_t i = 0; i < p.Count; ++i) {
        locations.push_back(p.Entries[i].Location ? p.Entries[i].Location : "-");
    }
    return locations;
}

inline bool AppendTo(void* context, const void* data, size_t bytes) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), bytes);
    return true;
}

inline bool WriteWith(const XmlPlaylist& p, const std::string& bytes,
                      const std::vector<XmlNewEntry>& added, std::string* out,
                      PlaylistFormat format = FormatUnknown) {
    out->clear();
    XmlSink sink = {AppendTo, out};
    return WriteXmlWith(&p, format == FormatUnknown ? p.Format : format, Bytes(bytes), bytes.size(),
                        added.data(), added.size(), &sink);
}

inline bool WriteWithout(const XmlPlaylist& p, const std::string& bytes,
                         const std::vector<bool>& remove, std::string* out) {
    out->clear();
    std::unique_ptr<bool[]> flags(new bool[remove.size() + 1]());
    for (size_t i = 0; i < remove.size(); ++i) {
        flags[i] = remove[i];
    }
    XmlSink sink = {AppendTo, out};
    return WriteXmlWithout(&p, Bytes(bytes), bytes.size(), flags.get(), &sink);
}

// Well-formed XML, as a plain parser sees it (ASX files in their tolerances: as this module
// reads them).
inline bool WellFormed(const std::string& bytes, PlaylistFormat format) {
    if (format == FormatAsx) {
        Parsed p(bytes);
        return p.P.Whole;
    }
    XML_Parser parser = XML_ParserCreate(nullptr);
    // Expat's own encodings, and Windows-1252 (its 0x80..0x9F as Latin-1's: well-formedness
    // does not depend on which characters they are).
    XML_SetUnknownEncodingHandler(
        parser,
        [](void*, const XML_Char* name, XML_Encoding* info) {
            if (std::string(name) != "windows-1252") {
                return static_cast<int>(XML_STATUS_ERROR);
            }
            for (int i = 0; i < 256; ++i) {
                info->map[i] = i;
            }
            info->data = nullptr;
            info->convert = nullptr;
            info->release = nullptr;
            return static_cast<int>(XML_STATUS_OK);
        },
        nullptr);
    bool ok =
        XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}
