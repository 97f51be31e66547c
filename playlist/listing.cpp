// Listing: one entry line per call, with the referenced file's size and time.
#include <cstring>

#include "playlist/playlist.h"

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

int ReadNextEntry(LineReader* playlist, const char16_t* playlistDir, char16_t* entryPath,
                  tHeaderDataExW* header, LocalZone* zone) {
    char line[LineBytes] = {};
    char16_t name[PathUnits];
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
        size_t units = first ? ListedName(line, length, lineEnds, encoding, name) : NotListed;
        if (units == NotListed) {
            continue;
        }
        memset(header, 0, sizeof *header);
        memcpy(header->FileName, name, (units + 1) * sizeof(char16_t));
        header->PackSize = static_cast<unsigned int>(units);
        FileStatus status;
        if (JoinEntryPath(playlistDir, name, units, entryPath) &&
            GetFileStatus(entryPath, &status)) {
            header->UnpSize = static_cast<unsigned int>(status.Size);
            header->UnpSizeHigh = static_cast<unsigned int>(status.Size >> 32);
            header->FileTime = static_cast<int>(TimeToDosDateTime(status.WriteTime, zone));
        }
        return E_SUCCESS;
    }
}
