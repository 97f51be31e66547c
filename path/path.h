// Path parsing for playlist entries: roots, segment cursors, and relative paths.
// Paths are zero-terminated UTF-8 byte strings; '\' and '/' are both separators in every style,
// since playlists travel between systems. A style (roots, case rule, the separator written)
// defaults to the build's own.
// Nothing here allocates or writes into its inputs.
#pragma once

#include <cstddef>

#include "platform/conventions.h"

// A position within a path. SegStart/SegEnd bound the current segment; a cursor on a body
// without segments has SegStart == SegEnd == BodyStart and SegLength 0.
struct PathCursor {
    const PathStyle* Style;
    const char* PathStart;
    const char* BodyStart;
    const char* SegStart;
    const char* SegEnd;
    size_t SegLength;
    bool Dotted; // the body holds a "." or ".." segment; without one no segment is ever skipped
};

enum SegmentClass { SegmentOrdinary, SegmentDot, SegmentDotDot };

struct WalkResult {
    bool okA;
    bool okB;
};

// Inline: asked for nearly every byte of a path.
inline bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Length of the leading anchor: drive ("C:", "C:\"), "\", device ("\\?\", "\\.\"), or
// network share ("\\server\share\"); without drive roots only a leading separator.
size_t PathRootLength(const char* p, const PathStyle& style = HostPaths);

// Whether an entry names its file without the playlist's folder: under drive roots a drive with
// a separator or two separators (a share or a device); otherwise a leading separator.
bool IsFullPath(const char* p, const PathStyle& style = HostPaths);

// Positions the cursor on the first segment of the body; false if the body has none.
bool OpenCursor(PathCursor* c, const char* path, const PathStyle& style = HostPaths);
// Both return false and leave the cursor unchanged when there is no further segment.
bool NextSegment(PathCursor* c);
bool PrevSegment(PathCursor* c);

SegmentClass ClassifySegment(const PathCursor* c);

// Equal length and equal bytes; ASCII case is ignored where the style is case-blind.
bool SameText(const char* a, size_t lenA, const char* b, size_t lenB,
              const PathStyle& style = HostPaths);

// For an ordinary segment: a later ".." removes it.
bool CancelledLater(PathCursor c);
// For a "..": it removes an earlier ordinary segment.
bool CancelsEarlier(PathCursor c);
// Whether the current segment drops out once "." and ".." are resolved. Under a rooted
// path a ".." that has nothing left to remove is dropped too.
bool IsSkipped(const PathCursor* c, bool rooted);
// Advances to the current or next segment that survives resolution; false if none.
bool SkipToEffective(PathCursor* c, bool rooted);

// Walks both cursors over their common effective segments (by the first cursor's style). When both
// flags are true, the cursors rest on the first differing pair; a false flag means that
// path ran out.
WalkResult WalkCommonPrefix(PathCursor* a, PathCursor* b, bool rooted);

// Writes the path leading from directory 'base' to 'target' into out (separated by the style's
// separator, truncated to size - 1 bytes and zero-terminated when size > 0) and returns its
// complete length. "." when both resolve to the same place; 0 and an empty string when the
// roots differ.
size_t RelativePath(const char* base, const char* target, char* out, size_t size,
                    const PathStyle& style = HostPaths);

#if defined(M3U_FAULT_INJECTION)
// Tests only: RelativePath by the walk alone, without the way for a target below the base.
size_t GeneralRelativePathForTests(const char* base, const char* target, char* out, size_t size,
                                   const PathStyle& style);
#endif
