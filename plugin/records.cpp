// Header records filled from listed entries.
#include "plugin/records.h"

#include <cstring>

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

int32_t UnixHeaderTime(int64_t secondsSince1970) {
    if (secondsSince1970 > INT32_MAX) {
        return INT32_MAX;
    }
    return secondsSince1970 < INT32_MIN ? INT32_MIN : static_cast<int32_t>(secondsSince1970);
}

uint32_t HeaderMode(const ListedEntry& entry) {
    const uint32_t regularFile = 0100000;
    return regularFile | (entry.Found ? entry.Status.Mode & 07777 : 0);
}

void FillHeader(const ListedEntry& entry, tHeaderDataExW* header, LocalZone* zone) {
    memset(header, 0, sizeof *header);
    static_assert(sizeof entry.Name == sizeof header->FileName, "names fit the record");
    memcpy(header->FileName, entry.Name, (entry.NameUnits + 1) * sizeof(char16_t));
    header->PackSize = static_cast<unsigned int>(entry.NameUnits);
    if (ThisHost.ModeInAttr) {
        header->FileAttr = static_cast<int>(HeaderMode(entry));
    }
    if (!entry.Found) {
        return;
    }
    header->UnpSize = static_cast<unsigned int>(entry.Status.Size);
    header->UnpSizeHigh = static_cast<unsigned int>(entry.Status.Size >> 32);
    header->FileTime = ThisHost.UnixTimes
                           ? UnixHeaderTime(entry.Status.WriteTime)
                           : static_cast<int>(TimeToDosDateTime(entry.Status.WriteTime, zone));
}
