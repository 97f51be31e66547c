// A listed entry as the host's header record: the one place that knows how a host keeps names,
// sizes, times and modes in it.
#pragma once

#include <cstdint>

#include "playlist/playlist.h"
#include "plugin/wcx.h"

// Clears the host's record, exactly its size, and fills it from the entry. `zone` keeps the local
// zone's rules from one entry to the next.
void FillHeader(const ListedEntry& entry, tHeaderDataExW* header, LocalZone* zone = nullptr);

// Local DOS date and time of a moment; PackDosDateTime of its calendar fields.
uint32_t TimeToDosDateTime(int64_t secondsSince1970, LocalZone* zone = nullptr);
uint32_t PackDosDateTime(int year, int month, int day, int hour, int minute, int second);
// A moment as a 32-bit Unix time, held to the range the field can show.
int32_t UnixHeaderTime(int64_t secondsSince1970);
// The st_mode a host that keeps one is given: always a regular file, so that no entry turns into
// a folder or a link there, with the file's permission bits when it was found.
uint32_t HeaderMode(const ListedEntry& entry);
