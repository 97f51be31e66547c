// Deleting and packing against a plain reference of the first algorithm, which compared every
// line with every name in turn: for any playlist bytes and names taken from its lines (folders,
// a name given twice, absent names among them), with the name table as built, with a hash under
// which keys collide, and in batches of a few keys, the playlist must come out byte for byte
// the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "path/path.h"
#include "playlist/nametable.h"
#include "playlist/playlist.h"
#include "plugin/exports.h"
#include "tests/fuzz/fuzz_files.h"
#include "text/text.h"

static void Check(bool ok, const char* what = "") {
    if (!ok) {
        fprintf(stderr, "failed: %s\n", what);
        abort();
    }
}

static std::string Load(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    Check(f != nullptr);
    char block[4096];
    while (size_t n = fread(block, 1, sizeof block, f)) {
        bytes.append(block, n);
    }
    fclose(f);
    return bytes;
}

// The playlist as every operation reads it: a byte-order mark is no part of the first line,
// CR LF arrives as LF, a byte 0x1A ends the text, lines come in pieces of at most 4095 bytes.
struct Reader {
    const std::string& Text;
    size_t Pos;
    bool Ended, AtEndMark;
};

static size_t Piece(Reader& r, std::string& piece, bool& lineBreak) {
    piece.clear();
    lineBreak = false;
    while (piece.size() < 4095) {
        if (r.Pos >= r.Text.size()) {
            r.Ended = true;
            break;
        }
        unsigned char c = r.Text[r.Pos];
        if (c == 0x1A) {
            r.AtEndMark = r.Ended = true;
            break;
        }
        ++r.Pos;
        if (c == '\r') {
            if (r.Pos >= r.Text.size()) {
                r.Ended = true;
                piece += '\r';
                break;
            }
            if (r.Text[r.Pos] == '\n') {
                ++r.Pos;
                c = '\n';
            }
        }
        piece += static_cast<char>(c);
        if (c == '\n') {
            lineBreak = true;
            break;
        }
    }
    return piece.size();
}

static bool HasMark(const std::string& text) {
    return text.compare(0, 3, "\xEF\xBB\xBF") == 0;
}

static bool IsSlash(char c) {
    return c == '\\' || c == '/';
}

// The first rules of a match: the whole line, or a folder name ("dir\*.*") over a line below it.
static bool Matches(const std::string& line, bool complete, const std::string& name) {
    if (complete && line == name) {
        return true;
    }
    size_t n = name.size();
    if (n > 4 && name.compare(n - 3, 3, "*.*") == 0 && IsSlash(name[n - 4])) {
        size_t folder = n - 4;
        return line.size() > folder && line.compare(0, folder, name, 0, folder) == 0 &&
               IsSlash(line[folder]);
    }
    return false;
}

static std::string ReferenceDelete(const std::string& text, const std::vector<std::string>& names) {
    std::string out;
    Reader r{text, 0, false, false};
    if (HasMark(text)) {
        r.Pos = 3;
        out += "\xEF\xBB\xBF";
    }
    auto content = [](const std::string& piece, bool lineBreak, bool last) {
        size_t n = piece.size() - (lineBreak ? 1 : 0);
        if (last && n > 0 && piece[n - 1] == '\r') {
            --n;
        }
        return piece.substr(0, n);
    };
    auto rest = [&](std::string* to, bool lineBreak) {
        std::string piece;
        while (!lineBreak && Piece(r, piece, lineBreak) > 0) {
            if (to) {
                *to += content(piece, lineBreak, lineBreak || r.Ended);
            }
        }
    };
    std::string piece, held;
    bool holding = false, lineBreak = false;
    while (Piece(r, piece, lineBreak) > 0) {
        bool whole = lineBreak || r.Ended;
        std::string kept = content(piece, lineBreak, whole);
        size_t cut = strcspn(piece.c_str(), "\r\n");
        if (piece[0] == '#') {
            if (whole && cut >= 8 && piece.compare(0, 8, "#EXTINF:") == 0) {
                held = kept;
                holding = true;
                continue;
            }
            out += kept;
            rest(&out, lineBreak);
            out += "\r\n";
            continue;
        }
        bool named = false;
        for (const auto& name : names) {
            named = named || Matches(piece.substr(0, cut), whole || cut < piece.size(), name);
        }
        if (named) {
            rest(nullptr, lineBreak);
        } else {
            if (holding) {
                out += held + "\r\n";
            }
            out += kept;
            rest(&out, lineBreak);
            out += "\r\n";
        }
        holding = false;
    }
    if (r.AtEndMark) {
        out += text.substr(r.Pos);
    }
    return out;
}

static std::string Utf8(const std::u16string& wide) {
    char out[LineBytes];
    Check(ToUtf8(wide.c_str(), out, sizeof out));
    return out;
}

// The line a packed name gets: relative to the playlist's folder, or the source as given.
static std::string EntryLine(const std::string& base, const std::string& source) {
    char line[LineBytes] = {};
    size_t length = RelativePath(base.c_str(), source.c_str(), line, LineBytes);
    return length == 0 || length >= LineBytes ? source : std::string(line);
}

static std::string ReferencePack(const std::string& text, const std::string& base,
                                 const std::string& src, const std::vector<std::string>& names) {
    std::string out = text;
    std::string tail = text.size() > 4 ? text.substr(text.size() - 4) : text;
    bool onlyMark = text.size() == 3 && HasMark(text);
    bool needBreak = !tail.empty() && tail.back() != '\n' && !onlyMark;
    for (const auto& name : names) {
        std::string entry = EntryLine(base, src + name);
        Reader r{text, HasMark(text) ? 3u : 0u, false, false};
        std::string piece;
        bool lineBreak = false, lineStart = true, found = false;
        while (!found && Piece(r, piece, lineBreak) > 0) {
            std::string line = piece.substr(0, strcspn(piece.c_str(), "\r\n"));
            found = lineStart && line[0] != '#' && line == entry;
            lineStart = lineBreak;
        }
        if (!found) {
            out += (needBreak ? "\r\n" : "") + entry + "\r\n";
            needBreak = false;
        }
    }
    return out;
}

// Names from the playlist's own lines: some of them, a folder of one, one given twice, and one
// that stands nowhere.
static std::vector<std::u16string> PickNames(const std::string& text, unsigned seed) {
    std::vector<std::u16string> names;
    size_t start = 0;
    for (size_t i = 0; start < text.size() && names.size() < 12; ++i) {
        size_t end = text.find_first_of(std::string("\r\n\0", 3), start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        char16_t wide[1100] = {};
        size_t inCount = line.size() + 1, room = sizeof wide;
        if (line.empty() || (i * seed) % 3 == 1 ||
            Utf8ToUtf16(line.c_str(), inCount, wide, room) != 0) {
            continue;
        }
        names.push_back(wide);
        size_t slash = names.back().find_first_of(u"\\/");
        if (slash != std::u16string::npos && slash > 0 && seed % 2 == 0) {
            names.push_back(names.back().substr(0, slash + 1) + u"*.*");
        }
    }
    if (!names.empty()) {
        names.push_back(names[seed % names.size()]);
    }
    names.push_back(u"absent.mp3");
    return names;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 20000) {
        return 0;
    }
    SetLastTempCounter(-1);
    static const size_t limits[] = {0, 2, 3, 5};
    WeakTableHashForTests(data[0] & 1);
    LimitTableForTests(limits[(data[0] >> 1) & 3]);
    std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::vector<std::u16string> names = PickNames(text, data[1]);
    std::u16string list;
    std::vector<std::string> utf8;
    for (const auto& name : names) {
        list += name + u'\0';
        utf8.push_back(Utf8(name));
    }
    list += u'\0';

    std::string folder = ScratchFolder();
    std::string path = folder + "/list.m3u";
    std::u16string playlist = HostPath(path);
    Store(path, text.data(), text.size());
    Check(DeleteFilesW(&playlist[0], &list[0]) == 0);
    std::string got = Load(path), want = ReferenceDelete(text, utf8);
    if (got != want) {
        fprintf(stderr, "delete: got %zu bytes, want %zu\n", got.size(), want.size());
        for (const std::string* t : {&text, &got, &want}) {
            for (unsigned char c : *t) {
                fprintf(stderr, c >= 32 && c < 127 ? "%c" : "<%02x>", c);
            }
            fprintf(stderr, "\n");
        }
        for (const auto& n : utf8) {
            fprintf(stderr, "  name [%s]\n", n.c_str());
        }
    }
    Check(got == want, "delete as before");

    Store(path, text.data(), text.size());
    std::u16string source = HostPath(folder) + u"\\";
    Check(PackFilesW(&playlist[0], nullptr, &source[0], &list[0], 0) == 0);
    got = Load(path);
    want = ReferencePack(text, Utf8(HostPath(folder)) + "\\", Utf8(source), utf8);
    if (got != want) {
        fprintf(stderr, "pack: got %zu bytes [%s], want %zu [%s]\n", got.size(), got.c_str(),
                want.size(), want.c_str());
    }
    Check(got == want, "pack as before");
    return 0;
}
