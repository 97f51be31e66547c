// Listing: one entry line per call, with the referenced file's size, time and mode. A path that
// names anything but a regular file lists as one that names nothing.
#include <cstring>

#include "playlist/playlist.h"

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
        entry->NameUnits = units;
        entry->Found = JoinEntryPath(playlistDir, path, pathUnits, entryPath) &&
                       GetRegularFileStatus(entryPath, &entry->Status);
        return E_SUCCESS;
    }
}
