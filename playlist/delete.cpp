// Deleting: the playlist rewritten without the named entries' lines.
#include <cstdlib>
#include <cstring>

#include "playlist/nametable.h"
#include "playlist/playlist.h"
#include "playlist/xmlfiles.h"
#include "text/text.h"

// Keys of the name table: each name of the list as an entry key, and a folder of the listing
// followed by a separator and "*.*" (the host's way of naming a whole folder) also as a folder
// key, which is the name without those four units. The two kinds hash apart and never match
// each other. A key's reference is where its name starts in the host's list, counted from the
// batch's first name; a folder key carries FolderRef besides.
enum : unsigned { EntryKey, FolderKey };
constexpr uint32_t FolderRef = TableRefLimit;

// The names of one batch, and the kind of key being looked for.
struct BatchNames {
    const NameList* Names;
    size_t Start;
    unsigned Kind;
};

static bool SameName(const void* context, uint32_t ref, const KeyText& key) {
    const BatchNames* batch = static_cast<const BatchNames*>(context);
    bool folder = (ref & FolderRef) != 0;
    if (folder != (batch->Kind == FolderKey)) {
        return false;
    }
    char16_t scratch[PathUnits];
    size_t units = 0;
    const char16_t* name =
        NameAt(batch->Names, batch->Start + (ref & (TableRefLimit - 1)), scratch, &units);
    if (folder) {
        units -= 4;
    }
    return name && units == key.Length && memcmp(name, key.Units, units * sizeof(char16_t)) == 0;
}

// Fills the table with the next names of the list, as many as fit; `batch` learns where they
// start. True when names are left for another batch.
static bool FillBatch(NameList* names, NameTable* table, BatchNames* batch, bool* folders) {
    ClearTable(table);
    *folders = false;
    batch->Names = names;
    for (;;) {
        size_t at = names->Offset, before = table->Count;
        const char16_t* name = NextName(names);
        if (!name) {
            return false;
        }
        size_t units = WideLength(name);
        if (units >= PathUnits + 4) {
            continue; // longer than any listed name, and its folder too: it matches none
        }
        if (before == 0) {
            batch->Start = at;
        }
        uint32_t ref = static_cast<uint32_t>(at - batch->Start);
        bool fits = at - batch->Start < TableRefLimit;
        if (fits) {
            batch->Kind = EntryKey;
            fits = TableAdd(table, MakeKey(name, units, EntryKey), ref, SameName, batch) >= 0;
        }
        if (fits && IsFolderName(name, units)) {
            batch->Kind = FolderKey;
            fits = TableAdd(table, MakeKey(name, units - 4, FolderKey), ref | FolderRef, SameName,
                            batch) >= 0;
            *folders = *folders || fits;
        }
        if (!fits && before > 0) {
            names->Offset = at; // the name starts the next batch
            return true;
        }
    }
}

// Whether the batch names a line that lists under `name` (`units` long): the name itself, or
// any of its leading folders.
static bool Named(const NameTable* table, BatchNames* batch, bool folders, const char16_t* name,
                  size_t units) {
    batch->Kind = EntryKey;
    if (TableFind(table, MakeKey(name, units, EntryKey), SameName, batch) >= 0) {
        return true;
    }
    batch->Kind = FolderKey;
    for (size_t p = 1; folders && p < units; ++p) {
        if (IsNameSeparator(name[p]) &&
            TableFind(table, MakeKey(name, p, FolderKey), SameName, batch) >= 0) {
            return true;
        }
    }
    return false;
}

// The lines that may belong to the entry below them, held until its path line decides whether
// they go: each as its kind, its length in two bytes, and its bytes. A real entry has a few lines
// of a few hundred bytes. When the held lines outgrow the hold (or one of them is longer than a
// read), they are written out as the delete did before entries kept their options: every
// held line but the info line goes out at once, and so do the directives after them, while the
// info line waits for its path line alone (Spilled). Only such an outsized entry may then keep
// its info line below its directives, or leave them behind when it goes.
enum { HoldBytes = 8192, RecordHead = 3 };
constexpr size_t NoInfo = ~size_t{0};
struct Held {
    size_t Used;
    size_t Info;     // where the held info line's record starts, NoInfo when none
    size_t RunStart; // where the trailing run of options and blank lines starts
    bool Spilled;
    unsigned char Lines[HoldBytes];
};

static void StartHold(Held* held) {
    held->Used = 0;
    held->Info = NoInfo;
    held->RunStart = 0;
    held->Spilled = false;
}

static size_t RecordLength(const Held* held, size_t at) {
    return held->Lines[at + 1] | size_t{held->Lines[at + 2]} << 8;
}

enum HeldPart { AllHeld, AllButInfo, BlanksOnly };

// Writes the held lines in [from, to) as they stood, those of `part`.
static void WriteHeld(LineWriter* writer, const Held* held, size_t from, size_t to, HeldPart part) {
    for (size_t at = from; at < to; at += RecordHead + RecordLength(held, at)) {
        bool info = at == held->Info;
        bool blank = static_cast<LineKind>(held->Lines[at]) == LineBlank;
        if (part == AllHeld || (part == AllButInfo && !info) || (part == BlanksOnly && blank)) {
            WriteWholeLine(writer, held->Lines + at + RecordHead, RecordLength(held, at));
        }
    }
}

// Writes `part` of the held lines and holds nothing more.
static void Release(LineWriter* writer, Held* held, HeldPart part) {
    WriteHeld(writer, held, 0, held->Used, part);
    StartHold(held);
}

// Everything held but the info line goes out now; the info line alone waits (see Held).
static void Spill(LineWriter* writer, Held* held) {
    WriteHeld(writer, held, 0, held->Used, AllButInfo);
    if (held->Info != NoInfo) {
        size_t length = RecordHead + RecordLength(held, held->Info);
        memmove(held->Lines, held->Lines + held->Info, length);
        held->Used = length;
        held->Info = 0;
    } else {
        held->Used = 0;
    }
    held->RunStart = held->Used;
    held->Spilled = true;
}

// Holds a whole line; false when it does not fit.
static bool Hold(Held* held, LineKind kind, const char* bytes, size_t n) {
    if (held->Spilled || RecordHead + n > HoldBytes - held->Used) {
        return false;
    }
    unsigned char* at = held->Lines + held->Used;
    at[0] = static_cast<unsigned char>(kind);
    at[1] = static_cast<unsigned char>(n & 0xFF);
    at[2] = static_cast<unsigned char>(n >> 8);
    memcpy(at + RecordHead, bytes, n);
    if (kind == LineInfo) {
        held->Info = held->Used;
    }
    held->Used += RecordHead + n;
    // An info line stays in the run: should another follow, it describes nothing and goes,
    // and the options on both sides of it stand directly above the later one.
    if (!RunsIntoEntry(kind) && kind != LineInfo) {
        held->RunStart = held->Used;
    }
    return true;
}

// A new info line: the one held before it describes no path line and goes; what was held
// above the run of options directly before the new one (passing over the old info line)
// belongs to no entry and is written.
static void NewInfo(LineWriter* writer, Held* held) {
    if (held->Info == NoInfo && !held->Spilled) {
        return; // only options and blank lines are held: they run on into this entry
    }
    WriteHeld(writer, held, 0, held->RunStart, AllButInfo);
    // The run stays held, without the info line.
    size_t kept = 0;
    for (size_t at = held->RunStart; at < held->Used;) {
        size_t length = RecordHead + RecordLength(held, at);
        if (at != held->Info) {
            memmove(held->Lines + kept, held->Lines + at, length);
            kept += length;
        }
        at += length;
    }
    held->Used = kept;
    held->Info = NoInfo;
    held->RunStart = 0;
    held->Spilled = false;
}

// Writes a line that goes out at once, its first piece `bytes` and those after it, read into
// `piece`.
static void WriteLine(LineReader* reader, LineWriter* writer, const char* bytes, char* piece,
                      size_t n, bool lineEnds) {
    if (lineEnds) {
        FollowLineEnds(writer, reader);
        WriteWholeLine(writer, bytes, n);
        return;
    }
    WriteBytes(writer, bytes, n);
    while (!lineEnds && ReadPiece(reader, piece, &n, &lineEnds)) {
        WriteBytes(writer, piece, n);
    }
    FollowLineEnds(writer, reader);
    WriteLineEnd(writer);
}

// The pieces after a first one that did not end its line, passed over.
static void SkipRestOfLine(LineReader* reader, char* piece, bool lineEnds) {
    size_t n = 0;
    while (!lineEnds && ReadPiece(reader, piece, &n, &lineEnds)) {
    }
}

// How one rewrite went: names are left for another batch; every byte went out; a blank line went
// first to keep the first line from reading as a byte-order mark.
struct Pass {
    bool More, Written, Guarded;
};

// The host hears how far the delete is through the playlist, as a percent of the whole. Each
// rewrite reads the playlist once: the last one runs to 100, one with names left after it to half
// of what remains, so the percent never goes back.
struct Percent {
    const HostProgress* Progress; // null: nobody is told
    const char16_t* Playlist;
    uint64_t Bytes; // the playlist's size, the bytes each rewrite reads about
    uint64_t Read;  // read by this rewrite so far
    int From, To;   // this rewrite's share
    int Told;       // the last percent told
};

// Tells the percent that `read` bytes of this rewrite reach, when it grew; false when the host
// asks to stop.
static bool TellPercent(Percent* percent, bool done) {
    if (!percent->Progress) {
        return true;
    }
    uint64_t part = percent->Bytes ? percent->Read * 100 / percent->Bytes : 100;
    int now =
        percent->From + static_cast<int>((part < 100 ? part : 100) *
                                         static_cast<uint64_t>(percent->To - percent->From) / 100);
    now = done ? percent->To : now < percent->To ? now : percent->To - 1;
    if (now <= percent->Told) {
        return true;
    }
    percent->Told = now;
    return percent->Progress->Tell(percent->Progress->Context, percent->Playlist, -now);
}

// One rewrite of `in` into `out` without the lines that the next batch of names names, and
// without their info lines. `unguard`: `in` is a rewrite that began with a blank line of that
// kind, which is no line of the playlist: it is passed over, so that this rewrite guards what
// comes first now. Its own frame, so that the table and the buffers are gone before the new
// version is put in place.
[[gnu::noinline]] static int DeleteBatch(NameList* names, PlatformFile* in, PlatformFile* out,
                                         bool unguard, Pass* pass, Percent* percent) {
    static_assert(sizeof(NameTable) + sizeof(LineReader) + sizeof(LineWriter) + sizeof(Held) <
                      160 * 1024,
                  "fits a host's stack");
    NameTable table;
    BatchNames batch = {};
    bool folders = false;
    pass->More = FillBatch(names, &table, &batch, &folders);
    percent->From = percent->Told > 0 ? percent->Told : 0;
    percent->To = pass->More ? percent->From + (100 - percent->From) / 2 : 100;
    percent->Read = 0;
    LineReader reader;
    LineWriter writer;
    Held held;
    StartHold(&held);
    StartReader(&reader, in);
    TextEncoding encoding = ReaderEncoding(&reader);
    StartWriter(&writer, out, encoding);
    const char* mark = ByteOrderMark(&reader);
    WriteBytes(&writer, mark, strlen(mark));
    writer.GuardMark = !mark[0];
    char piece[LineBytes] = {};
    char16_t name[PathUnits];
    size_t n = 0;
    bool lineEnds = false;
    if (unguard) {
        ReadPiece(&reader, piece, &n, &lineEnds);
    }
    const char* line = piece;
    bool endKnown = false;
    while (ReadPieceView(&reader, piece, &line, &n, &lineEnds)) {
        percent->Read += n + (lineEnds ? 1 : 0); // about: line ends and longer lines vary
        if (!TellPercent(percent, false)) {
            return E_EABORTED; // the temporary file goes with the rest of the rewrite
        }
        // A held line is written after the first line was read through, so its end is known;
        // from then on it stays as it is.
        if (!endKnown) {
            FollowLineEnds(&writer, &reader);
            endKnown = reader.FirstEnd != FirstEndUnread;
        }
        LineKind kind = KindOfLine(line, n, encoding);
        if (kind == LinePath) {
            size_t units = ListedName(line, n, lineEnds, encoding, name);
            if (units != NotListed && Named(&table, &batch, folders, name, units)) {
                Release(&writer, &held, BlanksOnly);
                SkipRestOfLine(&reader, piece, lineEnds);
            } else {
                // A path line keeps its lines, whether it lists or not.
                Release(&writer, &held, AllHeld);
                WriteLine(&reader, &writer, line, piece, n, lineEnds);
            }
            continue;
        }
        if (!lineEnds) {
            // A line longer than a read is never held.
            Spill(&writer, &held);
            WriteLine(&reader, &writer, line, piece, n, lineEnds);
            continue;
        }
        Belonging belonging = BelongsToNextEntry(kind, held.Info != NoInfo);
        if (belonging == BelongsAsInfo) {
            NewInfo(&writer, &held);
        } else if (belonging == BelongsNot || held.Used == 0) {
            // What heads a section, with the options above it, is no entry's; a line that may
            // belong to the next entry waits only behind others that do (a blank line between
            // entries goes out at once).
            Release(&writer, &held, AllHeld);
            if (belonging == BelongsNot || kind == LineBlank) {
                WriteLine(&reader, &writer, line, piece, n, lineEnds);
                continue;
            }
        }
        if (!Hold(&held, kind, line, n)) {
            Spill(&writer, &held);
            if (kind == LineInfo) {
                NewInfo(&writer, &held); // the hold is empty now: the info line always fits
                Hold(&held, kind, line, n);
            } else {
                WriteLine(&reader, &writer, line, piece, n, lineEnds);
            }
        }
    }
    // An info line with no entry after it describes nothing; the rest belongs to no entry.
    Release(&writer, &held, AllButInfo);
    WriteRemainder(&writer, &reader);
    pass->Written = FinishWriter(&writer);
    pass->Guarded = writer.Guarded;
    if (reader.Failed) {
        return E_EREAD;
    }
    return TellPercent(percent, true) ? E_SUCCESS : E_EABORTED;
}

// The names of one batch, looked for among the entries of a format other than M3U.
struct NamedIn {
    const NameTable* Table;
    BatchNames* Batch;
    bool Folders;
};

// Whether an entry's location lists under a name of the batch.
static bool NamedLocation(void* context, const char* location, size_t length, TextEncoding encoding,
                          bool whole) {
    NamedIn* in = static_cast<NamedIn*>(context);
    char16_t name[PathUnits];
    size_t units = LocationName(location, length, whole, encoding, name);
    return units != NotListed && Named(in->Table, in->Batch, in->Folders, name, units);
}

// The names an XML file's entries list under, worked out once when the names to delete take
// more than one batch (on the heap, like the file's entries). Entry i's name is Length[i] units
// at Units + Start[i], or Length[i] is NotListed.
struct EntryNames {
    char16_t* Units;
    size_t* Start;
    size_t* Length;
};

static void FreeEntryNames(EntryNames* names) {
    free(names->Units);
    free(names->Start);
    free(names->Length);
    *names = EntryNames{};
}

// False when memory is short: each batch then works the names out again.
static bool NameEntries(const XmlFile* xml, EntryNames* names) {
    size_t count = XmlEntryCount(xml), used = 0, room = 1024;
    names->Units = static_cast<char16_t*>(malloc(room * sizeof(char16_t)));
    names->Start = static_cast<size_t*>(malloc((count + 1) * sizeof(size_t)));
    names->Length = static_cast<size_t*>(malloc((count + 1) * sizeof(size_t)));
    bool ok = names->Units && names->Start && names->Length;
    char16_t name[PathUnits];
    for (size_t i = 0; ok && i < count; ++i) {
        const char* location = XmlEntryLocation(xml, i);
        size_t units =
            location ? LocationName(location, strlen(location), true, Text8Bit, name) : NotListed;
        if (units != NotListed && used + units > room) {
            room = (used + units) * 2 + 1024;
            char16_t* grown =
                static_cast<char16_t*>(realloc(names->Units, room * sizeof(char16_t)));
            ok = grown != nullptr;
            names->Units = grown ? grown : names->Units;
        }
        if (ok) {
            names->Start[i] = used;
            names->Length[i] = units;
            if (units != NotListed) {
                memcpy(names->Units + used, name, units * sizeof(char16_t));
                used += units;
            }
        }
    }
    if (!ok) {
        FreeEntryNames(names);
    }
    return ok;
}

// Marks every entry that a name of the list names, one batch of names at a time: in the PLS
// index, which the first batch builds as it marks (one reading fewer), or in `remove` for the
// XML file's entries. Its own frame, for the table.
[[gnu::noinline]] static int MarkNamed(NameList* names, const ByteSource* source, PlsIndex* index,
                                       const XmlFile* xml, bool* remove) {
    NameTable table;
    BatchNames batch = {};
    bool folders = false;
    names->Offset = 0;
    EntryNames named = {};
    bool cached = false;
    for (bool more = true, first = true; more; first = false) {
        more = FillBatch(names, &table, &batch, &folders);
        NamedIn in = {&table, &batch, folders};
        if (index && first) {
            PlsIndexed indexed = IndexAndMarkPls(
                source, index, HostPaths.LfUnlessCrLf ? "\n" : "\r\n", NamedLocation, &in);
            if (indexed != PlsIndexRead) {
                // Entries beyond what a rewrite can order are never renumbered by guesswork.
                return indexed == PlsIndexTooMany ? E_NOT_SUPPORTED : E_EREAD;
            }
        } else if (index && !MarkPls(source, index, NamedLocation, &in)) {
            FreeEntryNames(&named);
            return E_EREAD;
        }
        cached = cached || (xml && first && more && NameEntries(xml, &named));
        for (size_t i = 0; xml && i < XmlEntryCount(xml); ++i) {
            if (cached) {
                remove[i] = remove[i] || (named.Length[i] != NotListed &&
                                          Named(&table, &batch, folders,
                                                named.Units + named.Start[i], named.Length[i]));
                continue;
            }
            const char* location = XmlEntryLocation(xml, i);
            remove[i] = remove[i] || (location && NamedLocation(&in, location, strlen(location),
                                                                Text8Bit, true));
        }
    }
    FreeEntryNames(&named);
    return E_SUCCESS;
}

// Delete from a PLS: its entries indexed and marked, then the text written again without them.
// The host hears of half the way once the entries to delete are known; false when it asks to
// stop there.
static bool TellMarked(Percent* percent) {
    percent->Read = percent->Bytes / 2;
    return TellPercent(percent, false);
}

static int DeletePls(Rewrite* rewrite, NameList* names, Percent* percent) {
    PlsIndex index;
    ByteSource source = FileSource(rewrite->Locked);
    int result = MarkNamed(names, &source, &index, nullptr, nullptr);
    if (result == E_SUCCESS && !TellMarked(percent)) {
        return E_EABORTED;
    }
    if (result != E_SUCCESS || !AnyMarked(&index)) {
        return result == E_SUCCESS ? KeepUnchanged(rewrite) : result;
    }
    ByteSink sink = FileSink(rewrite->Next.File);
    PlsNewEntries none = {nullptr, nullptr, 0, nullptr};
    if (!WritePls(&source, &index, &none, &sink)) {
        return FileFailed(rewrite->Locked) ? E_EREAD : E_EWRITE;
    }
    return E_SUCCESS;
}

// Delete from an XML playlist, which must have been read whole.
static int DeleteXml(Rewrite* rewrite, NameList* names, Percent* percent) {
    XmlFile* xml = LoadXmlFile(rewrite->Locked);
    if (!xml) {
        return E_EREAD;
    }
    size_t count = XmlEntryCount(xml);
    bool* remove = static_cast<bool*>(calloc(count ? count : 1, sizeof(bool)));
    int result = !XmlFileWhole(xml) ? E_NOT_SUPPORTED : !remove ? E_EREAD : E_SUCCESS;
    if (result == E_SUCCESS) {
        result = MarkNamed(names, nullptr, nullptr, xml, remove);
    }
    if (result == E_SUCCESS && !TellMarked(percent)) {
        result = E_EABORTED;
    }
    bool any = false;
    for (size_t i = 0; remove && i < count; ++i) {
        any = any || remove[i];
    }
    if (result == E_SUCCESS) {
        result =
            any ? WriteXmlFileWithout(xml, remove, rewrite->Next.File) : KeepUnchanged(rewrite);
    }
    free(remove);
    FreeXmlFile(xml);
    return result;
}

int DeleteEntries(const char16_t* packedFile, NameList* names, const HostProgress* progress) {
    if (!packedFile || !NamesConvert(names)) {
        return E_NOT_SUPPORTED;
    }
    // The lock refuses a pipe or device in the playlist's place, which would block, or fill the
    // temporary file for ever.
    Rewrite rewrite;
    int result = StartRewrite(packedFile, false, &rewrite);
    if (result != E_SUCCESS) {
        return result;
    }
    PlaylistFormat format = FormatM3u;
    if (!SniffFile(rewrite.Locked, packedFile, &format)) {
        return FinishRewrite(&rewrite, false, E_EREAD);
    }
    if (format != FormatM3u) {
        // The host hears of half the way once the entries to delete are known, then of the end.
        // Another XML document or a binary file is never written into.
        Percent whole = {progress, packedFile, 2, 0, 0, 100, 0};
        result = format == FormatUnknown ? E_NOT_SUPPORTED
                 : format == FormatPls   ? DeletePls(&rewrite, names, &whole)
                                         : DeleteXml(&rewrite, names, &whole);
        if (result == E_SUCCESS && !TellPercent(&whole, true)) {
            result = E_EABORTED;
        }
        return FinishRewrite(&rewrite, result == E_SUCCESS, result);
    }
    // A list larger than one batch takes one more rewrite per batch, each of the text that the
    // one before wrote: a rewrite reads back as the lines it kept, so deleting in steps deletes
    // what the whole list would.
    TempFile before = {}; // the version the batch reads, when not the playlist itself
    Pass pass = {};
    FileStatus status = {};
    Percent percent = {progress, packedFile, 0, 0, 0, 0, 0};
    if (progress && GetFileStatus(rewrite.Playlist, &status)) {
        percent.Bytes = status.Size;
    }
    result = DeleteBatch(names, rewrite.Locked, rewrite.Next.File, false, &pass, &percent);
    while (pass.More && result == E_SUCCESS && pass.Written) {
        DiscardTemp(&before);
        before = rewrite.Next;
        rewrite.Next = {};
        if (!FileRewind(before.File)) {
            result = E_EWRITE;
        } else if (!OpenTemp(&rewrite, &rewrite.Next)) {
            result = E_ECREATE;
        } else {
            result =
                DeleteBatch(names, before.File, rewrite.Next.File, pass.Guarded, &pass, &percent);
        }
    }
    DiscardTemp(&before);
    return FinishRewrite(&rewrite, pass.Written, result);
}
