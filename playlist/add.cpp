// Adding: one line per packed file, relative to the playlist's directory.
#include <cstdlib>
#include <cstring>

#include "path/path.h"
#include "playlist/nametable.h"
#include "playlist/playlist.h"
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
// M3U line, which must not read as a directive.
static void EntryLine(const char* base, const char* source, char* line, bool m3u) {
    size_t length = RelativePath(base, source, line, LineBytes);
    if (length == 0 || length >= LineBytes) {
        strcpy(line, source); // both LineBytes; source is terminated inside its buffer
        length = strlen(line);
    }
    // A line that reads as a directive ("#1 hit.mp3") would never list: the current folder goes
    // first, as in ".\#1 hit.mp3".
    if (m3u && KindOfLine(line, length, Text8Bit) != LinePath && length + 2 < LineBytes) {
        memmove(line + 2, line, length + 1);
        line[0] = '.';
        line[1] = HostPaths.Separator;
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
    bool M3u;     // new entries are M3U lines; else locations of another format
};

// The name under which a name's new line lists, into `listed` (PathUnits), with the line itself
// into `entry` and the source path into `source` (LineBytes each); false when the line lists
// under no name, so that no old line can make it a duplicate.
static bool NewLineName(const char16_t* srcPath, const char* base, const char16_t* name,
                        char* source, char* entry, char16_t* listed, size_t* units,
                        bool m3u = true) {
    SourcePath(srcPath, name, source);
    EntryLine(base, source, entry, m3u);
    *units = m3u ? ListedName(entry, strlen(entry), true, Text8Bit, listed)
                 : LocationName(entry, strlen(entry), true, Text8Bit, listed);
    return *units != NotListed;
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
                       lines->M3u) &&
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

// Marks every key of the table under which an entry line of the playlist lists, in one reading
// of it, which also settles an open `verdict`; false when the playlist could not be read as far
// as needed.
[[gnu::noinline]] static bool MarkHeld(const char16_t* playlist, NameTable* table,
                                       const NewLines* lines, AnsiVerdict* verdict) {
    PlatformFile* file = FileOpen(playlist, FileForReading);
    if (!file) {
        return false;
    }
    LineReader reader;
    StartReader(&reader, file);
    TextEncoding encoding = ReaderEncoding(&reader);
    char line[LineBytes] = {};
    char16_t listed[PathUnits];
    size_t length = 0;
    bool lineEnds = false;
    bool lineStart = true; // the piece after one that did not end its line is no line of its own
    size_t left = table->Count;
    while ((left > 0 || verdict->Open) && ReadPiece(&reader, line, &length, &lineEnds)) {
        if (verdict->Open && lineStart && lineEnds) {
            JudgeLine(verdict, line, length);
        }
        size_t units = lineStart && left > 0 ? ListedName(line, length, lineEnds, encoding, listed)
                                             : NotListed;
        int i = units != NotListed ? TableFind(table, MakeKey(listed, units, 0), SameNewLine, lines)
                                   : -1;
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
[[gnu::noinline]] static bool MarkWalked(const char16_t* playlist, PlaylistFormat format,
                                         const XmlFile* xml, NameTable* table,
                                         const NewLines* lines) {
    PlatformFile* file = format == FormatPls ? FileOpen(playlist, FileForReading) : nullptr;
    if (format == FormatPls && !file) {
        return false;
    }
    static_assert(sizeof(PlsCursor) < 40 * 1024, "fits a host's stack");
    PlsCursor cursor;
    ByteSource source = FileSource(file);
    if (format == FormatPls) {
        StartPlsCursor(&cursor, &source);
    }
    bool read = format == FormatPls || xml;
    char location[PlsLineBytes + 1];
    char16_t listed[PathUnits];
    for (size_t i = 0; read;) {
        size_t units = NotListed;
        if (format == FormatPls) {
            size_t length = 0;
            TextEncoding encoding = Text8Bit;
            bool whole = false;
            int got = NextPlsLocation(&cursor, location, &length, &encoding, &whole);
            if (got <= 0) {
                read = got == 0;
                break;
            }
            units = LocationName(location, length, whole, encoding, listed);
        } else {
            if (i == XmlEntryCount(xml)) {
                break;
            }
            const char* at = XmlEntryLocation(xml, i++);
            units = at ? LocationName(at, strlen(at), true, Text8Bit, listed) : NotListed;
        }
        int k = units != NotListed ? TableFind(table, MakeKey(listed, units, 0), SameNewLine, lines)
                                   : -1;
        if (k >= 0) {
            table->Ref[k] |= FoundRef;
        }
    }
    if (file) {
        FileClose(file);
    }
    return read;
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
                                         const HostProgress* progress,
                                         PlaylistFormat format = FormatM3u,
                                         size_t* newCount = nullptr, const XmlFile* xml = nullptr) {
    static_assert(sizeof(NameTable) + 2 * sizeof(LineReader) < 160 * 1024, "fits a host's stack");
    NameTable table;
    bool m3u = format == FormatM3u;
    NewLines lines = {names, 0, srcPath, base, NoRef, m3u};
    char source[LineBytes];
    char entry[LineBytes];
    char16_t listed[PathUnits];
    size_t units = 0;
    int result = E_SUCCESS;
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
            if (NewLineName(srcPath, base, name, source, entry, listed, &units, m3u) &&
                (at - first >= TableRefLimit ||
                 TableAdd(&table, MakeKey(listed, units, 0), static_cast<uint32_t>(at - first),
                          SameNewLine, &lines) < 0)) {
                names->Offset = at; // the name starts the next batch
                more = true;
                break;
            }
            ++count;
        }
        bool marked = !test || (m3u ? (table.Count == 0 && !verdict->Open) ||
                                          MarkHeld(packedFile, &table, &lines, verdict)
                                    : table.Count == 0 ||
                                          MarkWalked(packedFile, format, xml, &table, &lines));
        if (!marked) {
            result = E_EREAD; // a duplicate test that cannot read must not guess
            break;
        }
        names->Offset = first;
        for (size_t k = 0; k < count && result == E_SUCCESS; ++k) {
            size_t at = names->Offset;
            const char16_t* name = NextName(names);
            bool listsUnder = NewLineName(srcPath, base, name, source, entry, listed, &units, m3u);
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
                    WriteNewLine(writer, entry, verdict->Ansi);
                    WriteLineEnd(writer);
                } else {
                    WriteBytes(writer, entry, strlen(entry));
                    WriteBytes(writer, "\n", 1);
                    ++*newCount;
                }
            }
            if (progress && !TellSource(progress, source, added)) {
                result = E_EABORTED;
            }
        }
    }
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

// The new version of a playlist of another format than M3U, with the `count` entries whose paths
// `news` holds. Its own frame, for the index and the reader.
[[gnu::noinline]] static int WriteWith(Rewrite* rewrite, PlaylistFormat format, bool existed,
                                       const XmlFile* xml, PlatformFile* news, size_t count) {
    if (existed && count == 0) {
        return KeepUnchanged(rewrite);
    }
    static_assert(sizeof(PlsIndex) + sizeof(LineReader) < 64 * 1024, "fits a host's stack");
    LineReader reader;
    StartReader(&reader, news);
    PlsNewEntries added = {NextPath, &reader, count};
    ByteSink sink = FileSink(rewrite->Next.File);
    ByteSource source = FileSource(rewrite->Locked);
    const char* lineEnd = HostPaths.LfUnlessCrLf ? "\n" : "\r\n";
    if (format == FormatPls) {
        PlsIndex index;
        PlsIndexed indexed = existed ? IndexPls(&source, &index, lineEnd) : PlsIndexRead;
        if (indexed != PlsIndexRead) {
            return indexed == PlsIndexTooMany ? E_NOT_SUPPORTED : E_EREAD;
        }
        bool written = existed ? WritePls(&source, &index, &added, &sink)
                               : WriteNewPls(&added, lineEnd, &sink);
        return written ? E_SUCCESS : FileFailed(rewrite->Locked) ? E_EREAD : E_EWRITE;
    }
    // The XML modules take the new entries at once, relative paths with '/' between folders.
    char** paths = static_cast<char**>(calloc(count ? count : 1, sizeof(char*)));
    int result = paths ? E_SUCCESS : E_EWRITE;
    char line[LineBytes];
    for (size_t i = 0; i < count && result == E_SUCCESS; ++i) {
        if (!NextPath(&reader, line, sizeof line) || !(paths[i] = strdup(line))) {
            result = E_EWRITE;
            break;
        }
        for (char* c = paths[i]; !IsFullPath(paths[i]) && *c; ++c) {
            *c = *c == '\\' ? '/' : *c;
        }
    }
    if (result == E_SUCCESS) {
        result = WriteXmlFileWith(xml, format, paths, count, rewrite->Next.File);
    }
    for (size_t i = 0; paths && i < count; ++i) {
        free(paths[i]);
    }
    free(paths);
    return result;
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
    int result = AppendNames(rewrite->Playlist, existed, base, srcPath, names, &writer, false,
                             &verdict, progress, format, &count, xml);
    if (!FinishWriter(&writer) && result == E_SUCCESS) {
        result = E_EWRITE;
    }
    if (result == E_SUCCESS) {
        result = FileRewind(news.File) ? WriteWith(rewrite, format, existed, xml, news.File, count)
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
    TextEnd end = {Text8Bit, false, false, false, !HostPaths.LfUnlessCrLf};
    if (existed && !InspectEnd(rewrite.Playlist, &end)) {
        return FinishRewrite(&rewrite, false, E_EREAD);
    }
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
                             &verdict, progress);
    bool written = FinishWriter(&writer);
    return FinishRewrite(&rewrite, written, result);
}
