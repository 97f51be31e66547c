// A whole-file model of the lines a delete keeps, for the fuzz targets, worked out backwards from
// each deleted path line rather than with the delete's forward hold: an entry is its path line,
// the last info line above it with the lines between, and the run of options directly above
// those (or above the path line, without an info line); blank lines are no one's; an info line
// that describes no path line goes, and ends no run of options.
#pragma once

#include <string>
#include <vector>

#include "playlist/playlist.h"

struct ModelLine {
    std::string Bytes; // a long line's pieces joined
    LineKind Kind;     // of its first piece
    bool Whole;        // read in one piece
};

// Every line of the text the reader is at the start of.
inline std::vector<ModelLine> ModelLines(LineReader* reader) {
    std::vector<ModelLine> lines;
    TextEncoding encoding = ReaderEncoding(reader);
    static char piece[LineBytes];
    size_t n = 0;
    bool lineEnds = true, lineStart = true;
    while (ReadPiece(reader, piece, &n, &lineEnds)) {
        if (lineStart) {
            lines.push_back({std::string(piece, n), KindOfLine(piece, n, encoding), lineEnds});
        } else {
            lines.back().Bytes.append(piece, n);
        }
        lineStart = lineEnds;
    }
    return lines;
}

// Which lines stay when the path lines for which named(i) holds are deleted. `fits` turns false
// when an entry is more than the delete holds, or has a line longer than a read: the delete then
// writes it by its older rule, which this model does not follow.
template <typename Named>
std::vector<bool> KeptLines(const std::vector<ModelLine>& lines, Named named, bool* fits) {
    size_t count = lines.size();
    std::vector<bool> kept(count, true);
    *fits = true;
    size_t since = 0; // bytes since the last path line
    for (size_t i = 0; i < count; ++i) {
        *fits = *fits && lines[i].Whole;
        if (lines[i].Kind != LinePath) {
            since += lines[i].Bytes.size() + 8;
            continue;
        }
        *fits = *fits && since < 4096;
        since = 0;
    }
    auto is = [&](size_t k, LineKind a, LineKind b, LineKind c) {
        return lines[k].Kind == a || lines[k].Kind == b || lines[k].Kind == c;
    };
    for (size_t i = 0; i < count; ++i) {
        if (lines[i].Kind != LineInfo) {
            continue;
        }
        size_t j = i + 1;
        while (j < count && !is(j, LineInfo, LinePath, LinePath)) {
            ++j;
        }
        kept[i] = j < count && lines[j].Kind == LinePath;
    }
    for (size_t p = 0; p < count; ++p) {
        if (lines[p].Kind != LinePath || !named(p)) {
            continue;
        }
        std::vector<size_t> entry = {p};
        size_t k = p;
        while (k > 0 && is(k - 1, LineDirective, LineOption, LineBlank)) {
            --k;
        }
        if (k > 0 && lines[k - 1].Kind == LineInfo) {
            for (size_t m = k - 1; m < p; ++m) {
                entry.push_back(m);
            }
            k = k - 1;
        } else {
            k = p;
        }
        // Info lines that describe nothing go anyway, and do not end the run of options.
        while (k > 0 && (is(k - 1, LineOption, LineBlank, LineBlank) ||
                         (lines[k - 1].Kind == LineInfo && !kept[k - 1]))) {
            entry.push_back(--k);
        }
        for (size_t m : entry) {
            if (lines[m].Kind != LineBlank) {
                kept[m] = false;
            }
        }
    }
    return kept;
}
