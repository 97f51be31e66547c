// Path parsing for playlist entries: roots, segment cursors, and relative paths.
// Paths are zero-terminated UTF-8 byte strings; '\' and '/' are both separators.
// Nothing here allocates or writes into its inputs.
#pragma once

#include <cstddef>

// A position within a path. SegStart/SegEnd bound the current segment; a cursor on a body
// without segments has SegStart == SegEnd == BodyStart and SegLength 0.
struct PathCursor {
    const char* PathStart;
    const char* BodyStart;
    const char* SegStart;
    const char* SegEnd;
    size_t SegLength;
};

enum SegmentClass { SegmentOrdinary, SegmentDot, SegmentDotDot };

struct WalkResult {
    bool okA;
    bool okB;
};

bool IsSeparator(char c);

// Length of the leading anchor: drive ("C:", "C:\"), "\", device ("\\?\", "\\.\"), or
// network share ("\\server\share\").
size_t PathRootLength(const char* p);

// Positions the cursor on the first segment of the body; false if the body has none.
bool OpenCursor(PathCursor* c, const char* path);
// Both return false and leave the cursor unchanged when there is no further segment.
bool NextSegment(PathCursor* c);
bool PrevSegment(PathCursor* c);

SegmentClass ClassifySegment(const PathCursor* c);

// Equal length and equal bytes, ignoring ASCII case only.
bool SameText(const char* a, size_t lenA, const char* b, size_t lenB);

// For an ordinary segment: a later ".." removes it.
bool CancelledLater(PathCursor c);
// For a "..": it removes an earlier ordinary segment.
bool CancelsEarlier(PathCursor c);
// Whether the current segment drops out once "." and ".." are resolved. Under a rooted
// path a ".." that has nothing left to remove is dropped too.
bool IsSkipped(const PathCursor* c, bool rooted);
// Advances to the current or next segment that survives resolution; false if none.
bool SkipToEffective(PathCursor* c, bool rooted);

// Walks both cursors over their common effective segments (ASCII case ignored). When both
// flags are true, the cursors rest on the first differing pair; a false flag means that
// path ran out.
WalkResult WalkCommonPrefix(PathCursor* a, PathCursor* b, bool rooted);

// Writes the path leading from directory 'base' to 'target' into out (backslash separated,
// truncated to size - 1 bytes and zero-terminated when size > 0) and returns its complete
// length. "." when both resolve to the same place; 0 and an empty string when the roots
// differ.
size_t RelativePath(const char* base, const char* target, char* out, size_t size);
