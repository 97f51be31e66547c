// Listing: one entry per call, with the referenced file's size, time and mode. A path that
// names anything but a regular file lists as one that names nothing.
#include <cstring>

#include "playlist/playlist.h"
#include "playlist/xmlfiles.h"

// The entry that lists under `units` of entry->Name, its path in `path`.
static int Listed(const char16_t* playlistDir, const char16_t* path, size_t pathUnits, size_t units,
                  char16_t* entryPath, ListedEntry* entry) {
    entry->NameUnits = units;
    entry->Found = JoinEntryPath(playlistDir, path, pathUnits, entryPath) &&
                   GetRegularFileStatus(entryPath, &entry->Status);
    return E_SUCCESS;
}

int ReadNextEntry(LineReader* playlist, const char16_t* playlistDir, char16_t* entryPath,
                  ListedEntry* entry) {
    char line[LineBytes] = {};
    char16_t path[PathUnits];
    TextEncoding encoding = ReaderEncoding(playlist);
    bool lineStart = true; // a piece that follows one that did not end its line is no line
    for (;;) {
        size_t length = 0;
        bool lineEnds = false;
        if (!ReadPiece(playlist, line, &length, &lineEnds)) {
            // A listing cut short by a read error must not pass for the whole playlist.
            return playlist->Failed ? E_EREAD : E_END_ARCHIVE;
        }
        bool first = lineStart;
        lineStart = lineEnds;
        size_t pathUnits = 0;
        size_t units =
            first ? ListedName(line, length, lineEnds, encoding, entry->Name, path, &pathUnits)
                  : NotListed;
        if (units == NotListed) {
            continue;
        }
        return Listed(playlistDir, path, pathUnits, units, entryPath, entry);
    }
}

static size_t ReadFromFile(void* context, void* buffer, size_t bytes) {
    return FileRead(static_cast<PlatformFile*>(context), buffer, bytes);
}

static bool SeekInFile(void* context, uint64_t offset) {
    return FileSeekTo(static_cast<PlatformFile*>(context), offset);
}

static bool FileReadFailed(void* context) {
    return FileFailed(static_cast<PlatformFile*>(context));
}

static bool WriteToFile(void* context, const void* data, size_t bytes) {
    return bytes == 0 || FileWrite(static_cast<PlatformFile*>(context), data, bytes);
}

ByteSource FileSource(PlatformFile* file) {
    return {ReadFromFile, SeekInFile, FileReadFailed, file};
}

ByteSink FileSink(PlatformFile* file) {
    return {WriteToFile, file};
}

bool SniffFile(PlatformFile* file, const char16_t* name, PlaylistFormat* format, bool* blank) {
    unsigned char head[FormatHeadBytes];
    size_t n = 0;
    for (size_t got; n < sizeof head && (got = FileRead(file, head + n, sizeof head - n)) > 0;) {
        n += got;
    }
    *format = FormatOfContent(head, n, FormatOfName(name));
    if (blank) {
        *blank = n < sizeof head;
        for (size_t i = 0; i < n && *blank; ++i) {
            *blank = head[i] == ' ' || head[i] == '\t' || head[i] == '\r' || head[i] == '\n';
        }
    }
    return !FileFailed(file) && FileRewind(file);
}

bool OpenEntries(PlaylistEntries* entries, PlatformFile* file, const char16_t* name) {
    if (!SniffFile(file, name, &entries->Format) || entries->Format == FormatUnknown) {
        return false;
    }
    StartReader(&entries->Lines, file);
    entries->Xml = nullptr;
    entries->XmlNext = 0;
    if (entries->Format == FormatPls) {
        entries->Source = FileSource(file);
        StartPlsCursor(&entries->Pls, &entries->Source);
    } else if (entries->Format != FormatM3u) {
        // Listed as far as it can be read, though only one read whole may change.
        entries->Xml = LoadXmlFile(file);
        return entries->Xml != nullptr;
    }
    return true;
}

void CloseEntries(PlaylistEntries* entries) {
    FreeXmlFile(entries->Xml);
    entries->Xml = nullptr;
    if (entries->Lines.File) {
        FileClose(entries->Lines.File);
        entries->Lines.File = nullptr;
    }
}

int ReadNextEntry(PlaylistEntries* playlist, const char16_t* playlistDir, char16_t* entryPath,
                  ListedEntry* entry) {
    if (playlist->Format == FormatM3u) {
        return ReadNextEntry(&playlist->Lines, playlistDir, entryPath, entry);
    }
    char16_t path[PathUnits];
    size_t pathUnits = 0;
    for (;;) {
        size_t units = NotListed;
        if (playlist->Format == FormatPls) {
            char location[PlsLineBytes + 1];
            size_t length = 0;
            TextEncoding encoding = Text8Bit;
            bool whole = false;
            int got = NextPlsLocation(&playlist->Pls, location, &length, &encoding, &whole);
            if (got <= 0) {
                return got < 0 ? E_EREAD : E_END_ARCHIVE;
            }
            units = LocationName(location, length, whole, encoding, entry->Name, path, &pathUnits);
        } else {
            if (!playlist->Xml || playlist->XmlNext >= XmlEntryCount(playlist->Xml)) {
                return E_END_ARCHIVE;
            }
            const char* location = XmlEntryLocation(playlist->Xml, playlist->XmlNext++);
            units = location ? LocationName(location, strlen(location), true, Text8Bit, entry->Name,
                                            path, &pathUnits)
                             : NotListed;
        }
        if (units != NotListed) {
            return Listed(playlistDir, path, pathUnits, units, entryPath, entry);
        }
    }
}
