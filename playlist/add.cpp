// Adding: one line per packed file, relative to the playlist's directory.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "path/path.h"
#include "media/media.h"
#include "playlist/nametable.h"
#include "playlist/playlist.h"
#include "playlist/style.h"
#include "playlist/tempcopies.h"
#include "playlist/xmlfiles.h"
#include "text/text.h"

// Encodes a whole string with its terminator at out[*used]; false when it does not fit.
static bool AppendUtf8(char* out, size_t* used, const char16_t* text) {
    if (!ToUtf8(text, out + *used, LineBytes - *used)) {
        return false;
    }
    *used += strlen(out + *used);
    return true;
}

// SrcPath and the name joined, in UTF-8, or the original file when that is a copy of one in the
// temporary folder; false when it does not fit a line, or is a copy that changed.
static bool SourcePath(const char16_t* srcPath, const char16_t* name, char* out) {
    out[0] = 0; // each part is encoded whole with its terminator: no need to clear the rest
    size_t used = 0;
    return (!srcPath || AppendUtf8(out, &used, srcPath)) && AppendUtf8(out, &used, name) &&
           SourceStandingFor(out, LineBytes);
}

// The line that names the source: relative to the playlist's directory, or the source's full
// path when it lies on another root (or the relative form would not fit a line). `m3u`: it is an
// M3U line, written in the playlist's style, which must not read as a directive.
static void EntryLine(const char* base, const char* source, char* line, const EntryStyle* m3u) {
    size_t length = 0;
    if (m3u && EntryPathText(*m3u, source, base, line, LineBytes)) {
        length = strlen(line);
    } else {
        length = RelativePath(base, source, line, LineBytes);
        if (length == 0 || length >= LineBytes) {
            strcpy(line, source); // both LineBytes; source is terminated inside its buffer
            length = strlen(line);
        }
    }
    // A line that reads as a directive ("#1 hit.mp3") would never list: the current folder goes
    // first, as in ".\#1 hit.mp3".
    if (m3u && KindOfLine(line, length, Text8Bit) != LinePath && length + 2 < LineBytes) {
        memmove(line + 2, line, length + 1);
        line[0] = '.';
        line[1] = m3u->Separator;
    }
}

// Keys of the name table: the name a new line will list under. A key's reference is where its
// name starts in the host's list, counted from the batch's first name; its text is worked out
// again from the name when a look-up must tell keys of one hash apart. FoundRef marks a key
// under which an old line lists.
constexpr uint32_t FoundRef = TableRefLimit << 1;
constexpr uint32_t NoRef = TableRefLimit;

struct NewLines {
    const NameList* Names;
    size_t Start;
    const char16_t* SrcPath;
    const char* Base;
    uint32_t Own; // the reference of the name being decided, whose key needs no working out
    const EntryStyle* Style; // new entries are M3U lines in this style; null: another format's
};

// The plain form of an M3U line, relative where it can be with the build's separator: the form
// by which new lines and old ones are told duplicates, whatever the style either is written in.
constexpr EntryStyle PlainStyle = {false, false, HostPaths.Separator, false, false, false, false};

// The name under which a name's new line lists in its plain form, into `listed` (PathUnits), with
// the line itself as written into `entry` and the source path into `source` (LineBytes each);
// false when the line lists under no name, so that no old line can make it a duplicate.
static bool NewLineName(const char16_t* srcPath, const char* base, const char16_t* name,
                        char* source, char* entry, char16_t* listed, size_t* units,
                        const EntryStyle* m3u) {
    SourcePath(srcPath, name, source);
    EntryLine(base, source, entry, m3u ? &PlainStyle : nullptr);
    *units = m3u ? ListedName(entry, strlen(entry), true, Text8Bit, listed)
                 : LocationName(entry, strlen(entry), true, Text8Bit, listed);
    if (m3u && m3u != &PlainStyle) {
        EntryLine(base, source, entry, m3u);
    }
    return *units != NotListed;
}

// An old line's plain form, when it names a file by its full path or a file:/// URI: the path
// relative to the playlist's folder `base`, so that a file listed in another style is found as
// a duplicate all the same. False when the line is neither, or lies on another root.
static bool PlainFormOfLine(const char* base, const char* line, size_t length, char* out) {
    char path[LineBytes];
    size_t n = 0;
    bool uri = length > 7 && (line[0] | 32) == 'f' && memcmp(line + 1, "ile:", 4) == 0 &&
               line[5] == '/' && line[6] == '/';
    // Only a line that begins with a root can be one: most lines are relative and end here.
    bool rooted = length > 0 && (line[0] == '/' || line[0] == '\\' ||
                                 (HostPaths.DriveRoots && length > 1 && line[1] == ':'));
    if (!uri && !rooted) {
        return false;
    }
    if (uri) {
        // file:///C:/a%20b.mp3 and file://localhost/C:/... name C:/a b.mp3; /home/x stays rooted.
        size_t at = 7;
        if (length - at >= 9 && memcmp(line + at, "localhost", 9) == 0) {
            at += 9;
        }
        if (at + 2 < length && line[at] == '/' && line[at + 2] == ':') {
            ++at;
        }
        for (; at < length && n + 1 < sizeof path; ++at) {
            char c = line[at];
            auto hex = [](char h) {
                return h >= '0' && h <= '9'                 ? h - '0'
                       : (h | 32) >= 'a' && (h | 32) <= 'f' ? (h | 32) - 'a' + 10
                                                            : -1;
            };
            if (c == '%' && at + 2 < length && hex(line[at + 1]) >= 0 && hex(line[at + 2]) >= 0) {
                c = static_cast<char>(hex(line[at + 1]) * 16 + hex(line[at + 2]));
                at += 2;
            }
            path[n++] = c;
        }
    } else {
        n = length < sizeof path ? length : sizeof path - 1;
        memcpy(path, line, n);
    }
    path[n] = 0;
    // Roots compare as written: both separators as the build's own.
    for (size_t i = 0; i < n; ++i) {
        path[i] = path[i] == '/' || path[i] == '\\' ? HostPaths.Separator : path[i];
    }
    if (n == 0 || memchr(path, 0, n) || PathRootLength(path) == 0) {
        return false;
    }
    size_t written = RelativePath(base, path, out, LineBytes);
    return written > 0 && written < LineBytes;
}

static bool SameNewLine(const void* context, uint32_t ref, const KeyText& key) {
    const NewLines* lines = static_cast<const NewLines*>(context);
    ref &= TableRefLimit - 1;
    if (ref == lines->Own) {
        return true;
    }
    char16_t scratch[PathUnits], listed[PathUnits];
    char source[LineBytes], entry[LineBytes];
    size_t units = 0;
    const char16_t* name = NameAt(lines->Names, lines->Start + ref, scratch, &units);
    return name &&
           NewLineName(lines->SrcPath, lines->Base, name, source, entry, listed, &units,
                       lines->Style) &&
           units == key.Length && memcmp(listed, key.Units, units * sizeof(char16_t)) == 0;
}

// Whether new lines go in the ANSI code page (Windows' players of 8-bit playlists decide a
// file's encoding once): the playlist is 8-bit text without a mark and not named ".m3u8", which
// promises UTF-8, and it holds a line that is not UTF-8 and none that is UTF-8 beyond ASCII.
// Lines longer than a read are not judged, since a piece may end inside a character.
struct AnsiVerdict {
    bool Open;   // still to be read for
    bool Legacy; // a line that is not UTF-8 was seen
    bool Ansi;   // the verdict, once the reading is done
};

static void JudgeLine(AnsiVerdict* verdict, const char* line, size_t length) {
    // Nearly every line is ASCII, which is UTF-8 and decides nothing: one look at each byte.
    size_t ascii = 0;
    while (ascii < length && static_cast<unsigned char>(line[ascii]) < 0x80) {
        ++ascii;
    }
    if (ascii == length) {
        return;
    }
    if (!IsUtf8Text(line, length)) {
        verdict->Legacy = true;
        return;
    }
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(line[i]) >= 0x80) {
            verdict->Open = false; // UTF-8 beyond ASCII: new lines stay UTF-8
            verdict->Legacy = false;
            return;
        }
    }
}

// One line's part in the style of new entries: the first line may be the #EXTM3U header, an
// info line marks the entry line after it as one with a title and a length.
static void TallyLine(StyleTally* tally, const char* line, size_t length, LineKind kind,
                      TextEncoding encoding, bool first, bool* info) {
    if (encoding == Text8Bit && !first && kind != LinePath) {
        *info = *info || kind == LineInfo;
        return; // nothing of such a line is read
    }
    // Roots, separators and schemes are ASCII: UTF-16 units beyond it stand as '_'. 8-bit text
    // is read where it lies.
    char text[LineBytes];
    const char* at = line;
    size_t n = length;
    if (encoding != Text8Bit) {
        n = 0;
        for (size_t i = 0; i + 1 < length && n + 1 < sizeof text; i += 2) {
            unsigned unit = UnitAt(reinterpret_cast<const unsigned char*>(line) + i, encoding);
            text[n++] = unit < 0x80 ? static_cast<char>(unit) : '_';
        }
        text[n] = 0;
        at = text;
    }
    if (first) {
        tally->ExtendedHeader = n >= 7 && memcmp(at, "#EXTM3U", 7) == 0;
    }
    if (kind == LineInfo) {
        *info = true;
    } else if (kind == LinePath) {
        TallyEntry(tally, at, n, EntryFields{*info, *info, false});
        *info = false;
    }
}

// Marks every key of the table under which an entry line of the playlist lists, in one reading
// of it, which also settles an open `verdict` and, when given, tallies every line into `tally`
// for the style of new entries; false when the playlist could not be read as far as needed.
[[gnu::noinline]] static bool MarkHeld(const char16_t* playlist, NameTable* table,
                                       const NewLines* lines, AnsiVerdict* verdict,
                                       StyleTally* tally) {
    PlatformFile* file = FileOpen(playlist, FileForReading);
    if (!file) {
        return false;
    }
    LineReader reader;
    StartReader(&reader, file);
    TextEncoding encoding = ReaderEncoding(&reader);
    char piece[LineBytes] = {};
    const char* line = piece;
    char16_t listed[PathUnits];
    size_t length = 0;
    bool lineEnds = false;
    bool lineStart = true; // the piece after one that did not end its line is no line of its own
    size_t left = table->Count;
    bool first = true, info = false;
    while ((left > 0 || verdict->Open || tally) &&
           ReadPieceView(&reader, piece, &line, &length, &lineEnds)) {
        // A piece after the first of its line is of no kind, and lists nothing.
        LineKind kind = lineStart ? KindOfLine(line, length, encoding) : LineDirective;
        if (tally && lineStart) {
            TallyLine(tally, line, length, kind, encoding, first, &info);
            first = false;
        }
        if (verdict->Open && lineStart && lineEnds) {
            JudgeLine(verdict, line, length);
        }
        size_t units = kind == LinePath && lineStart && left > 0
                           ? ListedName(line, length, lineEnds, encoding, listed)
                           : NotListed;
        int i = units != NotListed ? TableFind(table, MakeKey(listed, units, 0), SameNewLine, lines)
                                   : -1;
        char plain[LineBytes];
        if (i < 0 && units != NotListed && lines->Style && encoding == Text8Bit && lineEnds &&
            PlainFormOfLine(lines->Base, line, length, plain)) {
            units = ListedName(plain, strlen(plain), true, Text8Bit, listed);
            i = units != NotListed ? TableFind(table, MakeKey(listed, units, 0), SameNewLine, lines)
                                   : -1;
        }
        if (i >= 0 && !(table->Ref[i] & FoundRef)) {
            table->Ref[i] |= FoundRef;
            --left;
        }
        lineStart = lineEnds;
    }
    FileClose(file);
    if (verdict->Open) {
        verdict->Open = false;
        verdict->Ansi = verdict->Legacy && !reader.Failed;
    }
    return left == 0 || !reader.Failed;
}

// Marks every key of the table under which an entry of a playlist of another format lists, in
// one reading of its entries (an XML file's, read already); false when it could not be read.
// The table and the lines whose keys a walk over a PLS playlist's entries marks.
struct Walked {
    NameTable* Table;
    const NewLines* Lines;
};

static void MarkWalkedLocation(void* context, const char* location, size_t length,
                               TextEncoding encoding, bool whole) {
    Walked* walked = static_cast<Walked*>(context);
    char16_t listed[PathUnits];
    size_t units = LocationName(location, length, whole, encoding, listed);
    int k = units != NotListed
                ? TableFind(walked->Table, MakeKey(listed, units, 0), SameNewLine, walked->Lines)
                : -1;
    if (k >= 0) {
        walked->Table->Ref[k] |= FoundRef;
    }
}

// Every location of a PLS playlist in number order, from where `file` stands, for playlists whose
// entries do not stand in it (a walk reads them in file order); false when it could not be read.
// Its own frame, for the cursor.
[[gnu::noinline]] static bool VisitPlsInOrder(PlatformFile* file, PlsVisit visit, void* context) {
    static_assert(sizeof(PlsCursor) < 40 * 1024, "fits a host's stack");
    PlsCursor cursor;
    ByteSource source = FileSource(file);
    StartPlsCursor(&cursor, &source);
    char location[PlsLineBytes + 1];
    size_t length = 0;
    TextEncoding encoding = Text8Bit;
    bool whole = false;
    int got = 0;
    while ((got = NextPlsLocation(&cursor, location, &length, &encoding, &whole)) > 0) {
        visit(context, location, length, encoding, whole);
    }
    return got == 0;
}

[[gnu::noinline]] static bool MarkWalked(const char16_t* playlist, PlaylistFormat format,
                                         const XmlFile* xml, NameTable* table,
                                         const NewLines* lines) {
    Walked walked = {table, lines};
    if (format == FormatPls) {
        PlatformFile* file = FileOpen(playlist, FileForReading);
        if (!file) {
            return false;
        }
        // Entries numbered as they stand are walked in one reading; others in number order (a
        // key found twice stays found).
        ByteSource source = FileSource(file);
        PlsWalked walk = WalkPls(&source, MarkWalkedLocation, &walked, nullptr);
        bool read = walk == PlsWalkUnordered ? VisitPlsInOrder(file, MarkWalkedLocation, &walked)
                                             : walk == PlsWalkRead;
        FileClose(file);
        return read;
    }
    for (size_t i = 0; xml && i < XmlEntryCount(xml); ++i) {
        const char* at = XmlEntryLocation(xml, i);
        if (at) {
            MarkWalkedLocation(&walked, at, strlen(at), Text8Bit, true);
        }
    }
    return xml != nullptr;
}

// Writes a new line (UTF-8) in the code page when the verdict says so and it holds every
// character, else as UTF-8 in the writer's encoding. Code-page bytes that would read as UTF-8
// beyond ASCII would list as other characters: such a line stays UTF-8.
static void WriteNewLine(LineWriter* writer, const char* entry, bool ansi) {
    size_t length = strlen(entry);
    if (ansi) {
        char16_t wide[PathUnits + 1] = {};
        char bytes[LineBytes];
        size_t inCount = length + 1, room = sizeof wide - sizeof(char16_t);
        if (Utf8ToUtf16(entry, inCount, wide, room) == 0 &&
            WideToAnsiExactly(wide, bytes, sizeof bytes)) {
            // ASCII reads as UTF-8 too, and WriteText gives it the same bytes.
            size_t n = strlen(bytes);
            if (!IsUtf8Text(bytes, n)) {
                WriteBytes(writer, bytes, n);
                return;
            }
        }
    }
    WriteText(writer, entry, length);
}

// The joined source (UTF-8) in UTF-16, into `wide` (LineBytes units: the source fits a line in
// UTF-8, so in units too); false when it does not convert.
static bool WideSource(const char* source, char16_t* wide) {
    size_t inCount = strlen(source) + 1;
    size_t room = LineBytes * sizeof(char16_t);
    return Utf8ToUtf16(source, inCount, wide, room) == 0;
}

// The room for reading new files' headers, taken once per pack rather than once per file (each
// fresh block of it costs Windows, or Wine at least, most of a millisecond to zero); null when
// it cannot be had, and each reading then takes its own.
static uint8_t* TakeMediaRoom(uint8_t** room) {
    if (!*room) {
        *room = static_cast<uint8_t*>(ZeroAlloc(MediaRoomBytes));
    }
    return *room;
}

// The #EXTINF line of a new entry, from the headers of the file it names: none when neither its
// length nor a title from its tags is known. Its own frame, for the path and the tags.
[[gnu::noinline]] static void WriteInfoLine(LineWriter* writer, const char* source, bool ansi,
                                            uint8_t* mediaRoom) {
    char16_t wide[LineBytes] = {};
    MediaInfo info;
    if (!WideSource(source, wide)) {
        return;
    }
    ReadMediaInfo(wide, &info, mediaRoom);
    char line[LineBytes];
    ExtinfLine(info, line, sizeof line);
    if (line[0]) {
        WriteNewLine(writer, line, ansi);
        WriteLineEnd(writer);
    }
}

// Whether a style gives new entries of another format than M3U anything beside their paths.
static bool CarriesFields(const EntryStyle& style) {
    return style.Title || style.Length || style.Creator;
}

// A line of the temporary list of new entries behind '=', so that an empty value is a line too.
static void WriteFieldLine(LineWriter* writer, const char* value) {
    WriteBytes(writer, "=", 1);
    WriteBytes(writer, value, strlen(value));
    WriteBytes(writer, "\n", 1);
}

// A new entry of another format than M3U in the temporary list: its path in the playlist's style
// and, when the style calls for them, four lines from the file's headers: the title as "Artist -
// Title" (empty where neither a length nor a title is known), the tags' title, the artist, and
// the length in milliseconds (-1: unknown). Its own frame, for the tags.
[[gnu::noinline]] static void WriteOtherEntry(LineWriter* writer, const char* source,
                                              const char* base, const char* entry,
                                              const EntryStyle& style, uint8_t* mediaRoom) {
    char path[LineBytes];
    const char* line = EntryPathText(style, source, base, path, sizeof path) ? path : entry;
    WriteBytes(writer, line, strlen(line));
    WriteBytes(writer, "\n", 1);
    if (!CarriesFields(style)) {
        return;
    }
    MediaInfo info = {};
    info.Milliseconds = info.Seconds = -1;
    char16_t wide[LineBytes] = {};
    if (WideSource(source, wide)) {
        ReadMediaInfo(wide, &info, mediaRoom);
    }
    char text[LineBytes] = {};
    if (style.Title && (info.TitleFromTags || info.Seconds >= 0)) {
        DisplayTitle(info, text, sizeof text);
    }
    WriteFieldLine(writer, text);
    text[0] = 0;
    if (style.Title && info.TitleFromTags) {
        OneLineText(info.Title, text, sizeof text);
    }
    WriteFieldLine(writer, text);
    text[0] = 0;
    if (style.Creator) {
        OneLineText(info.Artist, text, sizeof text);
    }
    WriteFieldLine(writer, text);
    snprintf(text, sizeof text, "%lld",
             style.Length ? static_cast<long long>(info.Milliseconds) : -1LL);
    WriteFieldLine(writer, text);
}

// Whether the joined source names a folder.
static bool IsFolderSource(const char* source) {
    char16_t wide[LineBytes] = {};
    return WideSource(source, wide) && IsFolder(wide);
}

// Tells the host of a source as its line is decided: the file's size when its line was added, so
// that the host's count of bytes reaches its total, and 0 for one left out. False when the host
// asks to stop. Its own frame, for the path's units.
[[gnu::noinline]] static bool TellSource(const HostProgress* progress, const char* source,
                                         bool added) {
    char16_t path[LineBytes] = {};
    FileStatus status = {};
    bool file = WideSource(source, path) && added && GetRegularFileStatus(path, &status);
    return TellBytes(progress, path, file ? status.Size : 0);
}

// Appends the line of every name that the playlist does not hold yet, in list order. The names
// go in batches of what the table holds, each tested in one reading of the playlist as it stood
// before the call; a name given twice is appended twice. Its own frame, so that the table and
// the buffers are gone before the new version is put in place.
// For another format than M3U, each new entry's path goes into `writer` as a line of its own
// (UTF-8, LF), counted in `newCount`.
[[gnu::noinline]] static int AppendNames(const char16_t* packedFile, bool test, const char* base,
                                         const char16_t* srcPath, NameList* names,
                                         LineWriter* writer, bool needBreak, AnsiVerdict* verdict,
                                         const HostProgress* progress, EntryStyle* style,
                                         PlaylistFormat format = FormatM3u,
                                         size_t* newCount = nullptr, const XmlFile* xml = nullptr) {
    static_assert(sizeof(NameTable) + 2 * sizeof(LineReader) < 160 * 1024, "fits a host's stack");
    NameTable table;
    bool m3u = format == FormatM3u;
    const EntryStyle* m3uStyle = m3u ? style : nullptr;
    NewLines lines = {names, 0, srcPath, base, NoRef, m3uStyle};
    // The style of new lines is decided in the first reading of the playlist, before any is
    // written; a new playlist's is the plain one.
    StyleTally tally;
    StartTally(&tally, true, false);
    bool tallied = !m3u || !test || style->Header;
    char source[LineBytes];
    char entry[LineBytes];
    char16_t listed[PathUnits];
    size_t units = 0;
    int result = E_SUCCESS;
    uint8_t* mediaRoom = nullptr; // taken at the first new file whose headers are read
    names->Offset = 0;
    for (bool more = true; more && result == E_SUCCESS;) {
        size_t first = names->Offset, count = 0;
        ClearTable(&table);
        lines.Start = first;
        lines.Own = NoRef;
        more = false;
        for (;;) {
            size_t at = names->Offset;
            const char16_t* name = NextName(names);
            if (!name) {
                break;
            }
            if (NewLineName(srcPath, base, name, source, entry, listed, &units, m3uStyle) &&
                (at - first >= TableRefLimit ||
                 TableAdd(&table, MakeKey(listed, units, 0), static_cast<uint32_t>(at - first),
                          SameNewLine, &lines) < 0)) {
                names->Offset = at; // the name starts the next batch
                more = true;
                break;
            }
            ++count;
        }
        bool marked =
            !test ||
            (m3u ? (table.Count == 0 && !verdict->Open && tallied) ||
                       MarkHeld(packedFile, &table, &lines, verdict, tallied ? nullptr : &tally)
                 : table.Count == 0 || MarkWalked(packedFile, format, xml, &table, &lines));
        if (!marked) {
            result = E_EREAD; // a duplicate test that cannot read must not guess
            break;
        }
        if (!tallied) {
            *style = DecideStyle(&tally, false);
            tallied = true;
        }
        names->Offset = first;
        for (size_t k = 0; k < count && result == E_SUCCESS; ++k) {
            size_t at = names->Offset;
            const char16_t* name = NextName(names);
            bool listsUnder =
                NewLineName(srcPath, base, name, source, entry, listed, &units, m3uStyle);
            bool folder = HostPaths.PacksFilesOnly && IsFolderSource(source);
            // The new line is a duplicate when an old one lists under the name it will list under.
            lines.Own = static_cast<uint32_t>(at - first);
            int i = test && listsUnder && !folder
                        ? TableFind(&table, MakeKey(listed, units, 0), SameNewLine, &lines)
                        : -1;
            bool added = !folder && !(i >= 0 && (table.Ref[i] & FoundRef));
            if (added) {
                // An old last line without a line break stays apart from the first new one.
                if (needBreak) {
                    BreakLine(writer);
                    needBreak = false;
                }
                if (m3u) {
                    // A new playlist is an extended one from its first entry on.
                    if (style->Header) {
                        WriteText(writer, "#EXTM3U", 7);
                        WriteLineEnd(writer);
                        style->Header = false;
                    }
                    if (style->Title || style->Length) {
                        WriteInfoLine(writer, source, verdict->Ansi, TakeMediaRoom(&mediaRoom));
                    }
                    WriteNewLine(writer, entry, verdict->Ansi);
                    WriteLineEnd(writer);
                } else {
                    WriteOtherEntry(writer, source, base, entry, *style,
                                    CarriesFields(*style) ? TakeMediaRoom(&mediaRoom) : nullptr);
                    ++*newCount;
                }
            }
            if (progress && !TellSource(progress, source, added)) {
                result = E_EABORTED;
            }
        }
    }
    ZeroFree(mediaRoom);
    return result;
}

// How new lines join the file's text: its encoding, whether it ends inside a line (so that a new
// line needs a break before it), and whether it ends in half a UTF-16 unit. False when it cannot
// be read.
struct TextEnd {
    TextEncoding Encoding;
    bool InsideLine, HalfUnit;
    bool Marked; // it begins with a byte-order mark
    bool CrLf;   // new lines end in CR LF (else LF)
};

static bool InspectEnd(const char16_t* path, TextEnd* end) {
    PlatformFile* file = FileOpen(path, FileForReading);
    if (!file) {
        return false;
    }
    static_assert(sizeof(LineReader) < 32 * 1024, "fits a host's stack");
    LineReader reader;
    StartReader(&reader, file);
    end->Encoding = ReaderEncoding(&reader);
    size_t mark = strlen(ByteOrderMark(&reader));
    end->Marked = mark > 0;
    if (HostPaths.LfUnlessCrLf) {
        // New lines end as the first line does.
        char line[LineBytes];
        size_t length = 0;
        bool lineEnds = false;
        while (!lineEnds && ReadPiece(&reader, line, &length, &lineEnds)) {
        }
    }
    end->CrLf = EndsInCrLf(&reader);
    bool ok = !reader.Failed;
    FileStatus status = {};
    ok = ok && GetFileStatus(path, &status);
    unsigned char tail[4] = {};
    bool whole = !FileSeekFromEnd(file, sizeof tail); // shorter files are read from the start
    if (whole && !FileSeekFromEnd(file, static_cast<int64_t>(status.Size))) {
        ok = false;
    }
    size_t n = FileRead(file, tail, sizeof tail);
    ok = ok && !FileFailed(file);
    FileClose(file);
    bool onlyMark = status.Size == mark;
    if (end->Encoding == Text8Bit) {
        end->HalfUnit = false;
        end->InsideLine = n > 0 && tail[n - 1] != '\n' && tail[n - 1] != '\r' && !onlyMark;
    } else {
        end->HalfUnit = status.Size % 2 != 0;
        unsigned last = n < 2 ? 0 : UnitAt(tail + n - 2, end->Encoding);
        end->InsideLine = !onlyMark && (end->HalfUnit || (last != '\n' && last != '\r'));
    }
    return ok;
}

// A name ending in ".m3u8", in any case.
static bool NamedUtf8(const char16_t* playlist) {
    static const char16_t suffix[] = u".m3u8";
    size_t n = WideLength(playlist), k = 5;
    if (n < k) {
        return false;
    }
    for (size_t i = 0; i < k; ++i) {
        char16_t c = playlist[n - k + i];
        if ((c >= u'A' && c <= u'Z' ? c + 32 : c) != suffix[i]) {
            return false;
        }
    }
    return true;
}

// The paths of new entries, read back one a call from the lines AppendNames wrote.
static bool NextPath(void* context, char* path, size_t size) {
    static_assert(int{PlsLineBytes} >= int{LineBytes}, "a path line fits");
    size_t length = 0;
    bool lineEnds = false;
    return size >= LineBytes &&
           ReadPiece(static_cast<LineReader*>(context), path, &length, &lineEnds);
}

// One field line of the temporary list, without its '='; false when there is none.
static bool NextField(LineReader* reader, char* text, size_t size) {
    char line[LineBytes];
    if (!NextPath(reader, line, sizeof line) || line[0] != '=' || strlen(line) > size) {
        return false;
    }
    memmove(text, line + 1, strlen(line));
    return true;
}

// A PLS entry's title and length (seconds), from the four field lines after its path.
static bool NextPlsFields(void* context, char* title, size_t size, long long* seconds) {
    LineReader* reader = static_cast<LineReader*>(context);
    char skip[LineBytes], number[LineBytes];
    if (!NextField(reader, title, size) || !NextField(reader, skip, sizeof skip) ||
        !NextField(reader, skip, sizeof skip) || !NextField(reader, number, sizeof number)) {
        return false;
    }
    long long ms = strtoll(number, nullptr, 10);
    *seconds = ms < 0 ? -1 : ms / 1000;
    return true;
}

// The new version of a playlist of another format than M3U, with the `count` entries whose paths
// (and, with `fields`, their field lines) `news` holds. Its own frame, for the index and the
// reader.
[[gnu::noinline]] static int WriteWith(Rewrite* rewrite, PlaylistFormat format, bool existed,
                                       const XmlFile* xml, PlatformFile* news, size_t count,
                                       bool fields, const PlsShape* shape) {
    if (existed && count == 0) {
        return KeepUnchanged(rewrite);
    }
    static_assert(sizeof(PlsIndex) + sizeof(LineReader) < 64 * 1024, "fits a host's stack");
    LineReader reader;
    StartReader(&reader, news);
    PlsNewEntries added = {NextPath, &reader, count, fields ? NextPlsFields : nullptr};
    ByteSink sink = FileSink(rewrite->Next.File);
    ByteSource source = FileSource(rewrite->Locked);
    const char* lineEnd = HostPaths.LfUnlessCrLf ? "\n" : "\r\n";
    if (format == FormatPls) {
        PlsIndex index;
        // A text whose shape the style's walk found needs no reading for its index.
        PlsIndexed indexed = !existed       ? PlsIndexRead
                             : shape->Known ? IndexFromShape(shape, &index)
                                            : IndexPls(&source, &index, lineEnd);
        if (indexed != PlsIndexRead) {
            return indexed == PlsIndexTooMany ? E_NOT_SUPPORTED : E_EREAD;
        }
        bool written = existed ? WritePls(&source, &index, &added, &sink)
                               : WriteNewPls(&added, lineEnd, &sink);
        return written ? E_SUCCESS : FileFailed(rewrite->Locked) ? E_EREAD : E_EWRITE;
    }
    // The XML modules take the new entries at once, relative paths with '/' between folders.
    // Each entry's strings: its path, then (with fields) its title and creator.
    char** texts = static_cast<char**>(calloc(count ? 3 * count : 1, sizeof(char*)));
    NewEntryFields* extra =
        fields ? static_cast<NewEntryFields*>(calloc(count ? count : 1, sizeof(NewEntryFields)))
               : nullptr;
    char** paths = static_cast<char**>(calloc(count ? count : 1, sizeof(char*)));
    int result = texts && paths && (extra || !fields) ? E_SUCCESS : E_EWRITE;
    char line[LineBytes], number[LineBytes];
    for (size_t i = 0; i < count && result == E_SUCCESS; ++i) {
        if (!NextPath(&reader, line, sizeof line) || !(paths[i] = texts[3 * i] = strdup(line))) {
            result = E_EWRITE;
            break;
        }
        for (char* c = paths[i]; !IsFullPath(paths[i]) && *c; ++c) {
            *c = *c == '\\' ? '/' : *c;
        }
        if (fields) {
            // The display title is PLS's; the XML formats carry the title and creator apart.
            bool read = NextField(&reader, line, sizeof line) &&
                        NextField(&reader, line, sizeof line) &&
                        (!line[0] || (texts[3 * i + 1] = strdup(line))) &&
                        NextField(&reader, line, sizeof line) &&
                        (!line[0] || (texts[3 * i + 2] = strdup(line))) &&
                        NextField(&reader, number, sizeof number);
            if (!read) {
                result = E_EWRITE;
                break;
            }
            extra[i] = {texts[3 * i + 1], texts[3 * i + 2], strtoll(number, nullptr, 10)};
        }
    }
    if (result == E_SUCCESS) {
        result = WriteXmlFileWith(xml, format, paths, extra, count, rewrite->Next.File);
    }
    for (size_t i = 0; texts && i < 3 * count; ++i) {
        free(texts[i]);
    }
    free(texts);
    free(extra);
    free(paths);
    return result;
}

// One entry's location tallied, UTF-16 as ASCII.
static void TallyPlsLocation(void* context, const char* location, size_t length,
                             TextEncoding encoding, bool) {
    // Roots, separators and schemes are ASCII: UTF-16 units beyond it stand as '_'.
    char text[PlsLineBytes + 1];
    size_t n = 0;
    for (size_t i = 0; encoding != Text8Bit && i + 1 < length && n < PlsLineBytes; i += 2) {
        unsigned unit = UnitAt(reinterpret_cast<const unsigned char*>(location) + i, encoding);
        text[n++] = unit < 0x80 ? static_cast<char>(unit) : '_';
    }
    const char* at = encoding == Text8Bit ? location : text;
    TallyEntry(static_cast<StyleTally*>(context), at, encoding == Text8Bit ? length : n,
               EntryFields{false, false, false});
}

// A PLS playlist's part in the style of new entries, read in number order: its entries'
// locations, and whether most of its FileN keys have a TitleN and a LengthN beside them (streams
// count here: radio lists give them titles too). False when it could not be read.
static bool TallyPlsInOrder(PlatformFile* file, StyleTally* tally, bool* titled, bool* timed) {
    ByteSource source = FileSource(file);
    uint32_t files = 0, titles = 0, lengths = 0;
    if (!FileRewind(file) || !CountPlsKeys(&source, &files, &titles, &lengths) ||
        !FileRewind(file)) {
        return false;
    }
    bool read = VisitPlsInOrder(file, TallyPlsLocation, tally);
    // The keys are counted apart from the entries they belong to: a majority needs no more.
    *titled = files > 0 && 2 * uint64_t{titles} > files;
    *timed = files > 0 && 2 * uint64_t{lengths} > files;
    return read && FileRewind(file);
}

// The same; entries numbered as they stand are tallied and their keys counted in one reading.
[[gnu::noinline]] static bool TallyPls(PlatformFile* file, StyleTally* tally, bool* titled,
                                       bool* timed, PlsShape* shape) {
    ByteSource source = FileSource(file);
    // Others start again, in number order.
    StyleTally before = *tally;
    PlsKeyCounts counts = {0, 0, 0};
    PlsWalked walked = FileRewind(file) ? WalkPls(&source, TallyPlsLocation, tally, &counts, shape,
                                                  HostPaths.LfUnlessCrLf ? "\n" : "\r\n")
                                        : PlsWalkUnreadable;
    if (walked == PlsWalkUnordered) {
        *tally = before;
        return TallyPlsInOrder(file, tally, titled, timed);
    }
    *titled = counts.Files > 0 && 2 * uint64_t{counts.Titles} > counts.Files;
    *timed = counts.Files > 0 && 2 * uint64_t{counts.Lengths} > counts.Files;
    return walked == PlsWalkRead && FileRewind(file);
}

// The style of new entries of another format than M3U, from its entries (a new playlist: the
// plain form). PLS carries a title and a length, XSPF a title, creator and duration, ASX a title
// and an author, WPL nothing; only M3U writes URIs of its own (XSPF's module makes them).
static bool OtherStyle(PlaylistFormat format, PlatformFile* file, const XmlFile* xml,
                       EntryStyle* style, PlsShape* shape) {
    StyleTally tally;
    StartTally(&tally, false, false);
    bool titled = false, timed = false;
    if (format == FormatPls && file && !TallyPls(file, &tally, &titled, &timed, shape)) {
        return false;
    }
    for (size_t i = 0; xml && i < XmlEntryCount(xml); ++i) {
        const char* at = XmlEntryLocation(xml, i);
        bool title = false, creator = false, duration = false;
        XmlEntryCarries(xml, i, &title, &creator, &duration);
        if (at) {
            TallyEntry(&tally, at, strlen(at), EntryFields{title, duration, creator});
        }
    }
    *style = DecideStyle(&tally, false);
    style->Uri = false;
    if (format != FormatPls) {
        style->Separator = HostPaths.Separator; // the XML modules write their own separators
    }
    if (format == FormatPls) {
        style->Title = titled;
        style->Length = timed;
        style->Creator = false;
    }
    style->Length = style->Length && format != FormatAsx;
    if (format == FormatWpl) {
        style->Title = style->Length = style->Creator = false;
    }
    return true;
}

// Pack into a playlist of another format than M3U: the new entries are decided as for M3U (the
// duplicate test on listed names), their paths kept in a temporary file, and the format's module
// writes them in its own form.
static int PackOther(Rewrite* rewrite, PlaylistFormat format, bool existed, const char* base,
                     const char16_t* srcPath, NameList* names, const HostProgress* progress) {
    // An XML playlist is read once, and only one read whole is written into.
    XmlFile* xml = existed && format != FormatPls ? LoadXmlFile(rewrite->Locked) : nullptr;
    if (existed && format != FormatPls && (!xml || !XmlFileWhole(xml))) {
        FreeXmlFile(xml);
        return xml ? E_NOT_SUPPORTED : E_EREAD;
    }
    TempFile news = {};
    if (!OpenTemp(rewrite, &news)) {
        FreeXmlFile(xml);
        return E_ECREATE;
    }
    LineWriter writer;
    StartWriter(&writer, news.File);
    AnsiVerdict verdict = {false, false, false};
    size_t count = 0;
    EntryStyle style = PlainStyle;
    PlsShape shape = {}; // unknown, unless the style's walk finds it
    int result = OtherStyle(format, existed ? rewrite->Locked : nullptr, xml, &style, &shape)
                     ? E_SUCCESS
                     : E_EREAD;
    if (result == E_SUCCESS) {
        result = AppendNames(rewrite->Playlist, existed, base, srcPath, names, &writer, false,
                             &verdict, progress, &style, format, &count, xml);
    }
    if (!FinishWriter(&writer) && result == E_SUCCESS) {
        result = E_EWRITE;
    }
    if (result == E_SUCCESS) {
        result = FileRewind(news.File) ? WriteWith(rewrite, format, existed, xml, news.File, count,
                                                   CarriesFields(style), &shape)
                                       : E_EWRITE;
    }
    DiscardTemp(&news);
    FreeXmlFile(xml);
    return result;
}

int AddEntries(const char16_t* packedFile, const char16_t* srcPath, NameList* names,
               const HostProgress* progress) {
    if (!packedFile || !NamesConvert(names)) {
        return E_NOT_SUPPORTED;
    }
    if (srcPath && !srcPath[0]) {
        srcPath = nullptr;
    }
    char base[LineBytes] = {};
    char source[LineBytes] = {};
    size_t used = 0;
    if (!AppendUtf8(base, &used, packedFile)) {
        return E_NOT_SUPPORTED;
    }
    // The base keeps its last separator: "C:\" stays the root it is, where "C:" would not.
    char* slash = strrchr(base, HostPaths.Separator);
    (slash ? slash + 1 : base)[0] = 0;
    // Every source must fit a line before anything is touched.
    while (const char16_t* name = NextName(names)) {
        if (!SourcePath(srcPath, name, source)) {
            return E_NOT_SUPPORTED;
        }
    }
    names->Offset = 0;

    Rewrite rewrite;
    int started = StartRewrite(packedFile, true, &rewrite);
    if (started != E_SUCCESS) {
        return started;
    }
    bool existed = !rewrite.Created;
    // The content decides a playlist's format; the name only a new one's, or one of whitespace.
    PlaylistFormat format = FormatOfName(packedFile);
    bool blank = false;
    if (existed) {
        PlaylistFormat content = FormatM3u;
        if (!SniffFile(rewrite.Locked, packedFile, &content, &blank)) {
            return FinishRewrite(&rewrite, false, E_EREAD);
        }
        format = blank && format != FormatM3u ? format : content;
    }
    if (format != FormatM3u) {
        // Another XML document or a binary file is never written into.
        int result = format == FormatUnknown ? E_NOT_SUPPORTED
                                             : PackOther(&rewrite, format, existed && !blank, base,
                                                         srcPath, names, progress);
        return FinishRewrite(&rewrite, result == E_SUCCESS, result);
    }
    // The new version starts as a copy of the playlist, made in one pass by the system.
    CopyOutcome copied =
        existed ? FileCopyAll(rewrite.Locked, rewrite.Next.File, nullptr) : CopyDone;
    if (copied != CopyDone || !FileSeekFromEnd(rewrite.Next.File, 0)) {
        return FinishRewrite(&rewrite, false, copied == CopyReadFailed ? E_EREAD : E_EWRITE);
    }
    // A new playlist's lines end as the build writes them.
    static_assert(sizeof(TextEnd) + sizeof(LineReader) < 40 * 1024, "fits a host's stack");
    TextEnd end = {Text8Bit, false, false, false, !HostPaths.LfUnlessCrLf};
    if (existed && !InspectEnd(rewrite.Playlist, &end)) {
        return FinishRewrite(&rewrite, false, E_EREAD);
    }
    // New entries look like their neighbours, as the first reading of the playlist decides. A new
    // playlist begins with #EXTM3U and its entries get #EXTINF, as players write it; an existing
    // empty file is the user's own and keeps the plain form.
    StyleTally none;
    StartTally(&none, true, false);
    EntryStyle style = existed ? PlainStyle : DecideStyle(&none, true);
    bool needBreak = end.InsideLine;
    PlatformFile* out = rewrite.Next.File;
    LineWriter writer;
    StartWriter(&writer, out, end.Encoding, end.HalfUnit);
    writer.CrLf = end.CrLf;
    // Only a platform that writes the code page at all converts the empty text.
    char probe[1];
    AnsiVerdict verdict = {existed && end.Encoding == Text8Bit && !end.Marked &&
                               !NamedUtf8(packedFile) && WideToAnsiExactly(u"", probe, 1),
                           false, false};
    int result = AppendNames(rewrite.Playlist, existed, base, srcPath, names, &writer, needBreak,
                             &verdict, progress, &style);
    bool written = FinishWriter(&writer);
    return FinishRewrite(&rewrite, written, result);
}
