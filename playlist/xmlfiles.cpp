// XML playlists through the XML modules: the file's bytes and entries on the heap.
#include "playlist/xmlfiles.h"

#include <cstdlib>
#include <cstring>

#include "formats/xml.h"
#include "plugin/wcx.h"

struct XmlFile {
    unsigned char* Bytes;
    size_t Size;
    XmlPlaylist Playlist;
};

XmlFile* LoadXmlFile(PlatformFile* file) {
    if (!FileRewind(file)) {
        return nullptr;
    }
    XmlFile* xml = static_cast<XmlFile*>(calloc(1, sizeof(XmlFile)));
    size_t room = 0;
    for (bool more = xml != nullptr; more;) {
        if (xml->Size == room) {
            room = room ? room * 2 : 65536;
            unsigned char* grown = static_cast<unsigned char*>(realloc(xml->Bytes, room));
            if (!grown) {
                FreeXmlFile(xml);
                return nullptr;
            }
            xml->Bytes = grown;
        }
        size_t got = FileRead(file, xml->Bytes + xml->Size, room - xml->Size);
        xml->Size += got;
        more = got > 0;
    }
    if (xml && (FileFailed(file) || !ReadXmlPlaylist(xml->Bytes, xml->Size, &xml->Playlist))) {
        FreeXmlFile(xml);
        return nullptr;
    }
    return xml;
}

void FreeXmlFile(XmlFile* xml) {
    if (xml) {
        FreeXmlPlaylist(&xml->Playlist);
        free(xml->Bytes);
        free(xml);
    }
}

bool XmlFileWhole(const XmlFile* xml) {
    return xml->Playlist.Whole;
}

size_t XmlEntryCount(const XmlFile* xml) {
    return xml->Playlist.Count;
}

const char* XmlEntryLocation(const XmlFile* xml, size_t i) {
    return xml->Playlist.Entries[i].Location;
}

// The new version's file, and whether a write to it failed: a writer that answers false
// without one refuses the file.
struct FileOut {
    PlatformFile* File;
    bool Failed;
};

static bool WriteToFile(void* context, const void* data, size_t bytes) {
    FileOut* out = static_cast<FileOut*>(context);
    out->Failed = out->Failed || (bytes > 0 && !FileWrite(out->File, data, bytes));
    return !out->Failed;
}

static int Outcome(bool written, const FileOut& out) {
    return written ? E_SUCCESS : out.Failed ? E_EWRITE : E_NOT_SUPPORTED;
}

int WriteXmlFileWithout(const XmlFile* xml, const bool* remove, PlatformFile* out) {
    FileOut to = {out, false};
    XmlSink sink = {WriteToFile, &to};
    bool written = xml->Playlist.Whole &&
                   WriteXmlWithout(&xml->Playlist, xml->Bytes, xml->Size, remove, &sink);
    return Outcome(written, to);
}

void XmlEntryCarries(const XmlFile* xml, size_t i, bool* title, bool* creator, bool* duration) {
    const XmlEntry& e = xml->Playlist.Entries[i];
    *title = e.Title != nullptr;
    *creator = e.Creator != nullptr;
    *duration = e.DurationMs >= 0;
}

int WriteXmlFileWith(const XmlFile* xml, PlaylistFormat format, const char* const* paths,
                     const NewEntryFields* fields, size_t count, PlatformFile* out) {
    XmlNewEntry* entries =
        static_cast<XmlNewEntry*>(calloc(count ? count : 1, sizeof(XmlNewEntry)));
    if (!entries) {
        return E_EWRITE;
    }
    for (size_t i = 0; i < count; ++i) {
        entries[i] =
            fields ? XmlNewEntry{paths[i], fields[i].Title, fields[i].Creator, fields[i].DurationMs}
                   : XmlNewEntry{paths[i], nullptr, nullptr, -1};
    }
    FileOut to = {out, false};
    XmlSink sink = {WriteToFile, &to};
    XmlPlaylist empty = {};
    empty.Format = format;
    empty.Whole = true;
    bool written = xml ? xml->Playlist.Whole && WriteXmlWith(&xml->Playlist, format, xml->Bytes,
                                                             xml->Size, entries, count, &sink)
                       : WriteXmlWith(&empty, format, nullptr, 0, entries, count, &sink);
    free(entries);
    return Outcome(written, to);
}
