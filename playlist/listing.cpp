// Listing: one entry line per call, with the referenced file's size, time and mode.
#include <cstring>

#include "path/path.h"
#include "playlist/playlist.h"
#include "text/text.h"

bool EntryName(const char* line, char* name, size_t room) {
    if (HostPaths.TreeNames) {
        return TreePath(line, name, room) < room;
    }
    size_t length = strlen(line);
    if (length >= room) {
        return false;
    }
    memcpy(name, line, length + 1);
    return true;
}

// The entry's full path into entryPath: the playlist's folder, the host's separator and the line,
// whose separators become the host's too. False (and entryPath empty) when it does not fit or the
// line is not UTF-8.
static bool JoinEntryPath(const char16_t* dir, const char* line, size_t lineLength,
                          char16_t* entryPath) {
    size_t dirLength = 0;
    if (!IsFullPath(line)) {
        dirLength = WideLength(dir);
        if (dirLength + 1 >= PathUnits) {
            entryPath[0] = 0;
            return false;
        }
        memcpy(entryPath, dir, dirLength * sizeof(char16_t));
        entryPath[dirLength++] = static_cast<char16_t>(HostPaths.Separator);
    }
    size_t inCount = lineLength + 1;
    size_t room = (PathUnits - dirLength) * sizeof(char16_t);
    if (Utf8ToUtf16(line, inCount, entryPath + dirLength, room) != 0) {
        entryPath[0] = 0;
        return false;
    }
    for (char16_t* p = entryPath + dirLength; *p; ++p) {
        if (*p == u'\\') {
            *p = static_cast<char16_t>(HostPaths.Separator);
        }
    }
    return true;
}

int ReadNextEntry(LineReader* playlist, const char16_t* playlistDir, char16_t* entryPath,
                  ListedEntry* entry) {
    char line[LineBytes] = {};
    char name[LineBytes];
    bool directive = false; // within a directive longer than one piece
    for (;;) {
        bool lineBreak = false;
        if (ReadPiece(playlist, line, &lineBreak) == 0) {
            // A listing cut short by a read error must not pass for the whole playlist.
            return playlist->Failed ? E_EREAD : E_END_ARCHIVE;
        }
        bool continues = directive;
        size_t length = CutLine(line);
        directive = (continues || line[0] == '#') && !lineBreak;
        // The rest of a long comment is comment too, not an entry.
        if (continues || line[0] == '#') {
            continue;
        }
        memset(entry, 0, sizeof *entry);
        if (!EntryName(line, name, sizeof name)) {
            continue; // not listable: too long
        }
        size_t inCount = strlen(name) + 1;
        size_t room = sizeof entry->Name;
        if (Utf8ToUtf16(name, inCount, entry->Name, room) != 0) {
            continue; // not listable: too long or not UTF-8
        }
        entry->NameUnits = (sizeof entry->Name - room) / 2 - 1;
        entry->Found = JoinEntryPath(playlistDir, line, length, entryPath) &&
                       GetFileStatus(entryPath, &entry->Status);
        return E_SUCCESS;
    }
}
