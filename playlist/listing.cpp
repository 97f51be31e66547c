// Listing: one entry line per call, with the referenced file's size and time.
#include <cstring>

#include "playlist/playlist.h"
#include "text/text.h"

uint32_t PackDosDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980) {
        return 0x00210000u; // 1980-01-01 00:00:00
    }
    // Years from 2108 on wrap around in the seven-bit field, as the format has it.
    return (static_cast<uint32_t>(year - 1980) << 25) + (static_cast<uint32_t>(month) << 21) +
           (static_cast<uint32_t>(day) << 16) + (static_cast<uint32_t>(hour) << 11) +
           (static_cast<uint32_t>(minute) << 5) + static_cast<uint32_t>(second) / 2;
}

uint32_t TimeToDosDateTime(int64_t secondsSince1970, LocalZone* zone) {
    // Up to an even second, so halving the seconds loses nothing.
    int64_t even = secondsSince1970 + 1;
    even -= even & 1;
    CalendarTime local;
    if (!ToLocalCalendar(even, &local, zone)) {
        return 0;
    }
    return PackDosDateTime(local.Year, local.Month, local.Day, local.Hour, local.Minute,
                           local.Second);
}

static bool IsSlash(char16_t c) {
    return c == u'\\' || c == u'/';
}

// A drive and a separator, or two separators (a share or a device path): a full path already.
static bool IsAbsoluteEntry(const char16_t* name) {
    bool letter = (name[0] >= u'A' && name[0] <= u'Z') || (name[0] >= u'a' && name[0] <= u'z');
    return (letter && name[1] == u':' && IsSlash(name[2])) ||
           (IsSlash(name[0]) && IsSlash(name[1]));
}

// The entry's full path into entryPath; false (and entryPath empty) when it does not fit.
static bool JoinEntryPath(const char16_t* dir, const char16_t* name, size_t nameLength,
                          char16_t* entryPath) {
    size_t dirLength = 0;
    if (!IsAbsoluteEntry(name)) {
        dirLength = WideLength(dir);
        if (dirLength + 1 + nameLength + 1 > PathUnits) {
            entryPath[0] = 0;
            return false;
        }
        memcpy(entryPath, dir, dirLength * sizeof(char16_t));
        entryPath[dirLength++] = u'\\';
    }
    memcpy(entryPath + dirLength, name, (nameLength + 1) * sizeof(char16_t));
    return true;
}

int ReadNextEntry(LineReader* playlist, const char16_t* playlistDir, char16_t* entryPath,
                  tHeaderDataExW* header, LocalZone* zone) {
    char line[LineBytes] = {};
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
        memset(header, 0, sizeof *header);
        size_t inCount = length + 1;
        size_t room = sizeof header->FileName;
        if (Utf8ToUtf16(line, inCount, header->FileName, room) != 0) {
            continue; // not listable: too long or not UTF-8
        }
        size_t units = (sizeof header->FileName - room) / 2 - 1;
        header->PackSize = static_cast<unsigned int>(units);
        FileStatus status;
        if (JoinEntryPath(playlistDir, header->FileName, units, entryPath) &&
            GetFileStatus(entryPath, &status)) {
            header->UnpSize = static_cast<unsigned int>(status.Size);
            header->UnpSizeHigh = static_cast<unsigned int>(status.Size >> 32);
            header->FileTime = static_cast<int>(TimeToDosDateTime(status.WriteTime, zone));
        }
        return E_SUCCESS;
    }
}
