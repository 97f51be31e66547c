// Deleting and packing against plain references, which compare every line's listed name with
// every name of the list in turn (delete by the whole-file model of an entry's lines, pack as
// the first algorithm did, with new lines that never read as directives): for any playlist bytes
// (8-bit, or UTF-16 behind a mark the first input byte picks) and names taken from its listing
// (folders, a name given twice, absent names among them), with the name table as built, with a hash
// under which keys collide, and in batches of a few keys, the playlist must come out byte for byte
// the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "path/path.h"
#include "playlist/nametable.h"
#include "platform/conventions.h"
#include "playlist/playlist.h"
#include "playlist/style.h"
#include "plugin/exports.h"
#include "tests/fuzz/entry_model.h"
#include "tests/fuzz/fuzz_files.h"
#include "text/text.h"

static void Check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "failed: %s\n", what);
        abort();
    }
}

static std::string Load(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    Check(f != nullptr, "open");
    char block[4096];
    while (size_t n = fread(block, 1, sizeof block, f)) {
        bytes.append(block, n);
    }
    fclose(f);
    return bytes;
}

static void Show(const char* what, const std::string& bytes) {
    fprintf(stderr, "%s: ", what);
    for (unsigned char c : bytes) {
        fprintf(stderr, c >= 32 && c < 127 ? "%c" : "<%02x>", c);
    }
    fprintf(stderr, "\n");
}

// On a difference, everything needed to see it.
static void Same(const std::string& got, const std::string& want, const std::string& text,
                 const std::vector<std::u16string>& names, const char* what) {
    if (got != want) {
        Show("playlist", text);
        for (const auto& name : names) {
            Show("name", std::string(name.begin(), name.end()));
        }
        Show("got", got);
        Show("want", want);
    }
    Check(got == want, what);
}

static std::u16string Host(const std::string& path) {
    return HostPath(path);
}

static bool Wanted(const std::vector<std::u16string>& names, const char16_t* listed, size_t units) {
    for (const auto& name : names) {
        if (NameMatches(listed, units, name.c_str(), name.size())) {
            return true;
        }
    }
    return false;
}

// The delete by the whole-file model of which lines an entry takes with it, every listed name
// against every name; false when the model does not hold for the text (an outsized entry).
static bool ReferenceDelete(const std::string& from, const std::string& to,
                            const std::vector<std::u16string>& names) {
    std::u16string source = Host(from), target = Host(to);
    PlatformFile* in = FileOpen(source.c_str(), FileForReading);
    PlatformFile* out = FileOpen(target.c_str(), FileForWriting);
    Check(in && out, "reference streams");
    static LineReader reader;
    static LineWriter writer;
    StartReader(&reader, in);
    TextEncoding encoding = ReaderEncoding(&reader);
    StartWriter(&writer, out, encoding);
    const char* mark = ByteOrderMark(&reader);
    WriteBytes(&writer, mark, strlen(mark));
    writer.GuardMark = !mark[0];
    std::vector<ModelLine> lines = ModelLines(&reader);
    char16_t name[PathUnits];
    bool fits = false;
    std::vector<bool> kept = KeptLines(
        lines,
        [&](size_t i) {
            const ModelLine& line = lines[i];
            size_t units =
                ListedName(line.Bytes.data(), line.Bytes.size(), line.Whole, encoding, name);
            return units != NotListed && Wanted(names, name, units);
        },
        &fits);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (kept[i]) {
            WriteBytes(&writer, lines[i].Bytes.data(), lines[i].Bytes.size());
            WriteLineEnd(&writer);
        }
    }
    WriteRemainder(&writer, &reader);
    Check(FinishWriter(&writer), "reference write");
    FileClose(out);
    FileClose(in);
    return fits;
}

// Whether the playlist holds an entry line that lists under the name, read from its start.
static bool Holds(const std::u16string& playlist, const char16_t* name, size_t units) {
    PlatformFile* file = FileOpen(playlist.c_str(), FileForReading);
    Check(file != nullptr, "reference read");
    static LineReader reader;
    StartReader(&reader, file);
    TextEncoding encoding = ReaderEncoding(&reader);
    static char line[LineBytes];
    char16_t listed[PathUnits];
    size_t length = 0;
    bool lineEnds = false, found = false, lineStart = true;
    while (!found && ReadPiece(&reader, line, &length, &lineEnds)) {
        size_t n = lineStart ? ListedName(line, length, lineEnds, encoding, listed) : NotListed;
        found = n == units && memcmp(listed, name, units * sizeof(char16_t)) == 0;
        lineStart = lineEnds;
    }
    FileClose(file);
    return found;
}

// Whether the playlist's own entries leave new lines in the plain form the reference writes
// (relative, the build's separator, no #EXTINF), as pack's style module decides from them.
static bool PlainStyleOf(const std::u16string& playlist) {
    PlatformFile* file = FileOpen(playlist.c_str(), FileForReading);
    if (!file) {
        return false;
    }
    static LineReader reader;
    StartReader(&reader, file);
    TextEncoding encoding = ReaderEncoding(&reader);
    StyleTally tally;
    StartTally(&tally, true, false);
    char line[LineBytes], text[LineBytes];
    size_t length = 0;
    bool lineEnds = false, lineStart = true, first = true, info = false;
    while (ReadPiece(&reader, line, &length, &lineEnds)) {
        if (lineStart) {
            size_t n = 0;
            for (size_t i = 0; i < length && n + 1 < sizeof text;) {
                unsigned unit =
                    encoding == Text8Bit
                        ? static_cast<unsigned char>(line[i])
                        : UnitAt(reinterpret_cast<const unsigned char*>(line) + i, encoding);
                i += encoding == Text8Bit ? 1 : 2;
                text[n++] = encoding == Text8Bit || unit < 0x80 ? static_cast<char>(unit) : '_';
            }
            text[n] = 0;
            if (first) {
                tally.ExtendedHeader = n >= 7 && memcmp(text, "#EXTM3U", 7) == 0;
                first = false;
            }
            LineKind kind = KindOfLine(line, length, encoding);
            if (kind == LineInfo) {
                info = true;
            } else if (kind == LinePath) {
                TallyEntry(&tally, text, n, EntryFields{info, info, false});
                info = false;
            }
        }
        lineStart = lineEnds;
    }
    FileClose(file);
    EntryStyle style = DecideStyle(&tally, false);
    return !style.Absolute && !style.Uri && style.Separator == HostPaths.Separator &&
           !style.Title && !style.Length;
}

// The pack as it was: the playlist read again for every name; new lines appended after the
// old text as its end asks (a line break first, half a UTF-16 unit completed).
static void ReferencePack(const std::string& from, const std::string& to, const std::string& base,
                          const std::string& src, const std::vector<std::u16string>& names) {
    std::string text = Load(from);
    Store(to, text.data(), text.size());
    std::u16string playlist = Host(from), target = Host(to);
    PlatformFile* probe = FileOpen(playlist.c_str(), FileForReading);
    static LineReader reader;
    StartReader(&reader, probe);
    TextEncoding encoding = ReaderEncoding(&reader);
    size_t mark = strlen(ByteOrderMark(&reader));
    FileClose(probe);
    bool onlyMark = text.size() == mark, half = false, inside = false;
    if (encoding == Text8Bit) {
        inside = !text.empty() && text.back() != '\n' && text.back() != '\r' && !onlyMark;
    } else {
        half = text.size() % 2 != 0;
        size_t k = text.size();
        unsigned last = k < 2                     ? 0
                        : encoding == TextUtf16Le ? static_cast<unsigned char>(text[k - 2]) |
                                                        static_cast<unsigned char>(text[k - 1]) << 8
                                                  : static_cast<unsigned char>(text[k - 2]) << 8 |
                                                        static_cast<unsigned char>(text[k - 1]);
        inside = !onlyMark && (half || (last != '\n' && last != '\r'));
    }
    PlatformFile* out = FileOpen(target.c_str(), FileForAppending);
    static LineWriter writer;
    StartWriter(&writer, out, encoding, half);
    for (const auto& name : names) {
        char source[LineBytes] = {}, entry[LineBytes] = {};
        std::string joined = src;
        char utf8[LineBytes];
        Check(ToUtf8(name.c_str(), utf8, sizeof utf8), "name");
        joined += utf8;
        strcpy(source, joined.c_str());
        size_t length = RelativePath(base.c_str(), source, entry, LineBytes);
        if (length == 0 || length >= LineBytes) {
            strcpy(entry, source);
        }
        // A line that would read as a directive or a blank line starts with the current folder.
        std::string line = entry;
        if (KindOfLine(line.data(), line.size(), Text8Bit) != LinePath &&
            line.size() + 2 < LineBytes) {
            strcpy(entry, (".\\" + line).c_str());
        }
        char16_t listed[PathUnits];
        size_t units = ListedName(entry, strlen(entry), true, Text8Bit, listed);
        if (units != NotListed && Holds(playlist, listed, units)) {
            continue;
        }
        if (inside) {
            BreakLine(&writer);
            inside = false;
        }
        WriteText(&writer, entry, strlen(entry));
        WriteLineEnd(&writer);
    }
    Check(FinishWriter(&writer), "reference append");
    FileClose(out);
}

// Names from the listing: some of them, folders of some, one given twice, one that lists nowhere.
static std::vector<std::u16string> PickNames(const std::u16string& playlist, unsigned seed) {
    std::vector<std::u16string> names;
    tOpenArchiveDataW open = {};
    std::u16string arc = playlist;
    open.ArcName = &arc[0];
    void* handle = OpenArchiveW(&open);
    Check(handle != nullptr, "listing");
    static tHeaderDataExW header;
    for (unsigned i = 0; ReadHeaderExW(handle, &header) == 0 && names.size() < 12; ++i) {
        if ((i * seed) % 3 == 1) {
            continue;
        }
        std::u16string name = header.FileName;
        names.push_back(name);
        size_t slash = name.find_first_of(u"\\/");
        if (slash != std::u16string::npos && slash > 0 && seed % 2 == 0) {
            names.push_back(name.substr(0, slash + 1) + u"*.*");
        }
    }
    CloseArchive(handle);
    if (!names.empty()) {
        names.push_back(names[seed % names.size()]);
    }
    names.push_back(u"absent.mp3");
    return names;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 20000 || MayReadAsOtherFormat(data, size)) {
        return 0;
    }
    SetLastTempCounter(-1);
    static const size_t limits[] = {0, 2, 3, 5};
    static const char* const marks[] = {"", "\xFF\xFE", "\xFE\xFF", ""};
    WeakTableHashForTests(data[0] & 1);
    LimitTableForTests(limits[(data[0] >> 1) & 3]);
    std::string text = marks[(data[0] >> 3) & 3];
    text.append(reinterpret_cast<const char*>(data) + 2, size - 2);

    std::string folder = ScratchFolder();
    std::string path = folder + "/list.m3u", reference = folder + "/reference.m3u";
    std::u16string playlist = Host(path);
    Store(path, text.data(), text.size());
    std::vector<std::u16string> names = PickNames(playlist, data[1]);
    std::u16string list;
    for (const auto& name : names) {
        list += name + u'\0';
    }
    list += u'\0';

    bool modelled = ReferenceDelete(path, reference, names);
    Check(DeleteFilesW(&playlist[0], &list[0]) == 0, "delete");
    if (modelled) {
        Same(Load(path), Load(reference), text, names, "delete as the model");
    }

    Store(path, text.data(), text.size());
    std::u16string source = Host(folder) + u"\\";
    std::string base, src;
    char utf8[LineBytes];
    Check(ToUtf8(Host(folder).c_str(), utf8, sizeof utf8), "folder");
    base = std::string(utf8) + "\\";
    ReferencePack(path, reference, base, base, names);
    // New lines follow the playlist's own style; the reference knows the plain one only.
    bool plain = PlainStyleOf(playlist);
    Check(PackFilesW(&playlist[0], nullptr, &source[0], &list[0], 0) == 0, "pack");
    if (plain) {
        Same(Load(path), Load(reference), text, names, "pack as before");
    }
    return 0;
}
