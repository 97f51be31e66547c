// The copies that extraction made into the system's temporary folder, each with the file it was
// copied from.
//
// Why this state exists: hosts chain calls through that folder. A copy between two playlists is
// an extraction into a fresh folder there and a pack from it; a playlist inside a playlist is
// opened from its copy there; an edited entry comes back from there. The host removes the folder
// straight after, so a line naming such a copy names nothing a moment later. Each call alone
// cannot tell; only what an earlier call copied can. So the library remembers its own copies
// into the temporary folder for as long as it is loaded: shared by every handle and thread under
// the platform's lock, in memory only, the last TempCopyLimit of them (the oldest give way).
// Extraction records, and open, pack and delete ask; nothing else keeps state beyond a call.
#pragma once

#include <cstddef>

enum { TempCopyLimit = 100000 };

// How a file stands: no recorded copy (a file of any other program, one copied before the library
// was loaded, or anywhere but the temporary folder); a recorded copy as it was written, which
// stands for its original; or a recorded copy that changed since (its identity, size or last
// write differ), which stands for nothing.
enum CopyStanding { NoRecordedCopy, UnchangedCopy, ChangedCopy };

// After a successful copy of `original` to `destination`: remembered when the destination lies
// inside the temporary folder (any spelling of it), in place of an older record of that file.
void RecordTempCopy(const char16_t* destination, const char16_t* original);
// How `path` stands; for an unchanged copy, the full path of its original into `original`
// (PathUnits).
CopyStanding LookUpTempCopy(const char16_t* path, char16_t* original);
// The record of `path`, if any, goes.
void ForgetTempCopy(const char16_t* path);

// The look-up in the two forms its callers need:
// - the playlist a host names for open, pack or delete: its original when it is an unchanged
//   copy of one (into `original`, PathUnits), else the path itself;
// - a source to pack, in UTF-8 (`bytes` of room): replaced by its original's path when it is an
//   unchanged copy; false for a changed copy (the plug-in never writes into the music, and the
//   copy is about to go) or an original whose path does not fit.
const char16_t* PlaylistStandingFor(const char16_t* playlist, char16_t* original);
bool SourceStandingFor(char* source, size_t bytes);

// Every record goes, as the library is unloaded; and from now on at most `records` are held (0:
// TempCopyLimit), which tests set lower.
void ResetTempCopies(size_t records);
