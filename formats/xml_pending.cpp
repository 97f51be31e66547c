// Until the XML modules are built: XML is recognised as a playlist that cannot be changed.
#include "formats/xml.h"

PlaylistFormat SniffXmlFormat(const unsigned char* bytes, size_t size) {
    size_t i = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    while (i < size &&
           (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) {
        ++i;
    }
    return i < size && bytes[i] == '<' ? FormatUnknown : FormatM3u;
}

bool ReadXmlPlaylist(const unsigned char*, size_t, XmlPlaylist* playlist) {
    *playlist = {};
    playlist->Format = FormatUnknown;
    return true;
}

void FreeXmlPlaylist(XmlPlaylist* playlist) {
    *playlist = {};
}

bool WriteXmlWithout(const XmlPlaylist*, const unsigned char*, size_t, const bool*,
                     const XmlSink*) {
    return false;
}

bool WriteXmlWith(const XmlPlaylist*, PlaylistFormat, const unsigned char*, size_t,
                  const XmlNewEntry*, size_t, const XmlSink*) {
    return false;
}
