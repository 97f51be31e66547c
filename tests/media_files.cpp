#include "tests/media_files.h"

namespace {

// String literals whose zero bytes count.
std::string operator""_b(const char* text, size_t length) {
    return std::string(text, length);
}

std::string Be(uint64_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) {
        s += static_cast<char>(v >> (8 * i) & 0xFF);
    }
    return s;
}
std::string Le(uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) {
        s += static_cast<char>(v >> (8 * i) & 0xFF);
    }
    return s;
}
std::string Syncsafe(uint32_t v) {
    return std::string{static_cast<char>(v >> 21 & 0x7F), static_cast<char>(v >> 14 & 0x7F),
                       static_cast<char>(v >> 7 & 0x7F), static_cast<char>(v & 0x7F)};
}

// ---- MP3 ----

// An ID3v2 frame: encoding byte and text for text frames, as given for others.
std::string Frame(int version, const std::string& id, const std::string& body, int flags = 0) {
    if (version == 2) {
        return id + Be(body.size(), 3) + body;
    }
    return id + (version == 3 ? Be(body.size(), 4) : Syncsafe(body.size())) + Be(flags, 2) + body;
}
std::string Tag(int version, const std::string& frames, int flags = 0, size_t padding = 0) {
    std::string body = frames + std::string(padding, '\0');
    return "ID3" + std::string{static_cast<char>(version), 0, static_cast<char>(flags)} +
           Syncsafe(body.size()) + body;
}
// The unsynchronisation scheme: a zero after every 0xFF, and after a final one.
std::string Unsync(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (static_cast<unsigned char>(s[i]) == 0xFF &&
            (i + 1 == s.size() || static_cast<unsigned char>(s[i + 1]) >= 0xE0 || s[i + 1] == 0)) {
            out += '\0';
        }
    }
    return out;
}
std::string Utf16LeBom(const std::u16string& s) {
    std::string out = "\xFF\xFE";
    for (char16_t c : s) {
        out += Le(c, 2);
    }
    return out;
}
std::string Utf16BeText(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        out += Be(c, 2);
    }
    return out;
}

// MPEG-1 Layer III frames, 128 kbit/s, 44.1 kHz, stereo unless `mono`: 417 bytes each.
const int FrameBytes = 417;
std::string Mp3Frames(int count, bool mono = false) {
    std::string frame = std::string("\xFF\xFB\x90", 3) + (mono ? "\xC0" : std::string(1, '\0'));
    frame.resize(FrameBytes, '\0');
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += frame;
    }
    return out;
}
// A first frame that carries a Xing (or Info) header counting `frames` frames.
std::string XingFrames(int count, uint32_t frames, const char* kind = "Xing") {
    std::string out = Mp3Frames(count);
    out.replace(4 + 32, 16, std::string(kind) + Be(3, 4) + Be(frames, 4) + Be(count * 417, 4));
    return out;
}
std::string VbriFrames(int count, uint32_t frames) {
    std::string out = Mp3Frames(count);
    out.replace(4 + 32, 18,
                "VBRI" + Be(1, 2) + Be(0, 2) + Be(75, 2) + Be(count * 417, 4) + Be(frames, 4));
    return out;
}
std::string Id3v1(const std::string& title, const std::string& artist) {
    std::string t = title, a = artist;
    t.resize(30, ' ');
    a.resize(30, '\0');
    std::string tag = "TAG" + t + a + std::string(30 + 4 + 30, '\0');
    tag += '\xFF';
    return tag;
}

// ---- FLAC and Vorbis comments ----

std::string Comments(const std::vector<std::string>& comments) {
    std::string out = Le(9, 4) + "test 1.0x" + Le(comments.size(), 4);
    for (const auto& c : comments) {
        out += Le(c.size(), 4) + c;
    }
    return out;
}
std::string StreamInfo(uint32_t rate, uint64_t samples) {
    std::string s = Be(4096, 2) + Be(4096, 2) + Be(0, 3) + Be(0, 3);
    // rate (20 bits), channels - 1 (3), bits - 1 (5), samples (36)
    uint64_t packed = static_cast<uint64_t>(rate) << 44 | 1ULL << 41 | 15ULL << 36 | samples;
    s += Be(packed, 8) + std::string(16, '\0');
    return s;
}
std::string FlacBlock(int type, bool last, const std::string& body) {
    return std::string(1, static_cast<char>(type | (last ? 0x80 : 0))) + Be(body.size(), 3) + body;
}

// ---- Ogg ----

uint32_t OggCrc(const std::string& page) {
    uint32_t crc = 0;
    for (unsigned char c : page) {
        crc ^= static_cast<uint32_t>(c) << 24;
        for (int i = 0; i < 8; ++i) {
            crc = crc & 0x80000000 ? crc << 1 ^ 0x04C11DB7 : crc << 1;
        }
    }
    return crc;
}
// One page of `packets`; the first continues a packet of the page before when `continued`, and
// the last goes on in the next page when `open`.
std::string OggPage(const std::vector<std::string>& packets, uint64_t granule, uint32_t sequence,
                    int type = 0, bool open = false, uint32_t serial = 0x1234) {
    std::string table, body;
    for (size_t p = 0; p < packets.size(); ++p) {
        size_t n = packets[p].size();
        for (; n >= 255; n -= 255) {
            table += '\xFF';
        }
        if (!(open && p + 1 == packets.size())) {
            table += static_cast<char>(n);
        }
        body += packets[p];
    }
    std::string page = "OggS" + std::string(1, '\0') + std::string(1, static_cast<char>(type)) +
                       Le(granule, 8) + Le(serial, 4) + Le(sequence, 4) + Le(0, 4) +
                       std::string(1, static_cast<char>(table.size())) + table + body;
    page.replace(22, 4, Le(OggCrc(page), 4));
    return page;
}
std::string VorbisIdent(uint32_t rate) {
    return "\x01vorbis" + Le(0, 4) + "\x01" + Le(rate, 4) + Le(0, 4) + Le(64000, 4) + Le(0, 4) +
           "\xB8\x01";
}
std::string Vorbis(uint32_t rate, const std::string& comments, uint64_t lastGranule,
                   bool split = false) {
    std::string comment = "\x03vorbis" + comments + "\x01";
    std::string setup = "\x05vorbis" + std::string(40, '\0') + "\x01";
    std::string out = OggPage({VorbisIdent(rate)}, 0, 0, 2);
    if (split) {
        // The comment packet runs over into a second page.
        size_t half = 255 * 2;
        out += OggPage({comment.substr(0, half)}, ~0ULL, 1, 0, true);
        out += OggPage({comment.substr(half), setup}, 0, 2, 1);
    } else {
        out += OggPage({comment, setup}, 0, 1);
    }
    out += OggPage({std::string(200, '\0')}, lastGranule / 2, 3);
    out += OggPage({std::string(200, '\0')}, lastGranule, 4, 4);
    return out;
}
std::string Opus(uint16_t preSkip, const std::string& comments, uint64_t lastGranule) {
    std::string head = "OpusHead\x01\x02" + Le(preSkip, 2) + Le(44100, 4) + Le(0, 2) + "\x00";
    head.resize(19, '\0');
    std::string out = OggPage({head}, 0, 0, 2);
    out += OggPage({"OpusTags" + comments}, 0, 1);
    out += OggPage({std::string(100, '\0')}, lastGranule, 2, 4);
    return out;
}

// ---- MP4 ----

std::string Box(const std::string& type, const std::string& body) {
    return Be(8 + body.size(), 4) + type + body;
}
std::string Mp4Text(const std::string& type, const std::string& text) {
    return Box(type, Box("data", Be(1, 4) + Be(0, 4) + text));
}
std::string Moov(uint32_t scale, uint32_t duration, const std::string& ilst) {
    std::string mvhd = Box("mvhd", Be(0, 4) + Be(0, 4) + Be(0, 4) + Be(scale, 4) + Be(duration, 4) +
                                       std::string(80, '\0'));
    std::string mdhd =
        Box("mdhd", Be(0, 4) + Be(0, 4) + Be(0, 4) + Be(scale, 4) + Be(duration, 4) + Be(0, 4));
    std::string hdlr = Box("hdlr", Be(0, 4) + Be(0, 4) + "soun" + std::string(13, '\0'));
    std::string trak = Box("trak", Box("mdia", mdhd + hdlr));
    std::string moov = mvhd + trak;
    if (!ilst.empty()) {
        std::string metaHdlr =
            Box("hdlr", Be(0, 4) + Be(0, 4) + "mdir" + "appl" + std::string(9, 0));
        moov += Box("udta", Box("meta", Be(0, 4) + metaHdlr + Box("ilst", ilst)));
    }
    return Box("moov", moov);
}
std::string Ftyp() {
    return Box("ftyp", "M4A " + Be(0, 4) + "M4A mp42isom");
}

// ---- WAV ----

std::string Chunk(const std::string& id, const std::string& body) {
    std::string out = id + Le(body.size(), 4) + body;
    if (body.size() & 1) {
        out += '\0';
    }
    return out;
}
// 8 kHz, 8-bit mono: 8,000 bytes a second.
std::string Fmt() {
    return Chunk("fmt ", Le(1, 2) + Le(1, 2) + Le(8000, 4) + Le(8000, 4) + Le(1, 2) + Le(8, 2));
}
std::string Riff(const std::string& chunks) {
    return "RIFF" + Le(4 + chunks.size(), 4) + "WAVE" + chunks;
}

std::vector<MediaFile> Make() {
    std::vector<MediaFile> files;
    const std::string title = "Caf\xC3\xA9 del Mar", artist = "Bj\xC3\xB6rk";
    const std::string latinTitle = "Caf\xE9 del Mar", latinArtist = "Bj\xF6rk";
    const std::u16string wideTitle = u"Caf\u00E9 \U0001F3B5",
                         wideArtist = u"\u041A\u0438\u043D\u043E";
    const std::string wideTitle8 = "Caf\xC3\xA9 \xF0\x9F\x8E\xB5",
                      wideArtist8 = "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE";
    // 100 frames of 417 bytes at 128 kbit/s: 2.6 s.
    std::string cbr = Mp3Frames(100);
    files.push_back({"plain.mp3", cbr, "", "", 2, nullptr});
    files.push_back(
        {"v23.mp3",
         Tag(3, Frame(3, "TIT2", "\x00"_b + latinTitle) + Frame(3, "TPE1", "\x00"_b + latinArtist),
             0, 64) +
             cbr,
         title, artist, 2, nullptr});
    // 2.4 with an extended header, UTF-8 text and a Xing header counting 1,000 frames: 26.1 s.
    files.push_back({"v24-xing.mp3",
                     Tag(4,
                         Syncsafe(6) + "\x01\x00"_b + Frame(4, "TIT2", "\x03" + title) +
                             Frame(4, "TPE1", "\x03" + artist + std::string(1, '\0') + "Second"),
                         0x40) +
                         XingFrames(20, 1000),
                     title, artist, 26,
                     "TagLib joins a list's values with spaces; the first is taken here"});
    // 2.2 frames in UTF-16 with a byte-order mark, a VBRI header counting 500 frames: 13.1 s.
    files.push_back({"v22-vbri.mp3",
                     Tag(2, Frame(2, "TT2", "\x01" + Utf16LeBom(wideTitle)) +
                                Frame(2, "TP1", "\x02" + Utf16BeText(wideArtist))) +
                         VbriFrames(20, 500),
                     wideTitle8, wideArtist8, 13, nullptr});
    // The whole 2.3 tag unsynchronised: 0xFF bytes in UTF-16 text gain a zero after them.
    {
        std::u16string t = u"\u00FF\uFFFE title";
        std::string frames = Frame(3, "TIT2", "\x01" + Utf16LeBom(t)) + Frame(3, "TPE1",
                                                                              "\x00\xFF"
                                                                              "ffe"_b);
        files.push_back({"v23-unsync.mp3", Tag(3, Unsync(frames), 0x80) + cbr,
                         "\xC3\xBF\xEF\xBF\xBE title",
                         "\xC3\xBF"
                         "ffe",
                         2, nullptr});
        // 2.4 unsynchronises frame by frame, the frame's flag set.
        std::string body = Unsync("\x00\xFF\xFB title"_b);
        files.push_back({"v24-unsync.mp3", Tag(4, Frame(4, "TIT2", body, 0x02)) + cbr,
                         "\xC3\xBF\xC3\xBB title", "", 2, nullptr});
    }
    // A title longer than the record: cut before the character that would not fit.
    {
        std::string e2 = "\xC3\xA9", longTitle, kept;
        for (int i = 0; i < 200; ++i) {
            longTitle += e2;
            kept += i < 127 ? e2 : "";
        }
        files.push_back({"long-title.mp3", Tag(4, Frame(4, "TIT2", "\x03" + longTitle)) + cbr, kept,
                         "", 2, "TagLib keeps the whole title; the record holds 255 bytes"});
    }
    // iTunes' 2.4 frame sizes, plain numbers where the tag's own size is syncsafe.
    {
        std::string text = "\x03" + std::string(199, 'i');
        files.push_back({"v24-plain-sizes.mp3",
                         Tag(4, "TIT2" + Be(text.size(), 4) + Be(0, 2) + text +
                                    Frame(4, "TPE1",
                                          "\x03"
                                          "After")) +
                             cbr,
                         std::string(199, 'i'), "After", 2, nullptr});
    }
    files.push_back({"v1.mp3", cbr + Id3v1(latinTitle, latinArtist), title, artist, 2, nullptr});
    files.push_back({"v2-and-v1.mp3",
                     Tag(3, Frame(3, "TIT2", "\x00Two"_b)) + cbr + Id3v1("One", "Artist One"),
                     "Two", "Artist One", 2, nullptr});
    // A picture of 200 KiB before the title: the head grows to hold the tag.
    files.push_back(
        {"big-picture.mp3",
         Tag(3, Frame(3, "APIC", "\x00image/jpeg\x00\x03\x00"_b + std::string(200 << 10, 'J')) +
                    Frame(3, "TIT2",
                          "\x00"
                          "After the picture"_b)) +
             cbr,
         "After the picture", "", 2, nullptr});
    // A tag longer than the head: its first frames are read, the audio still found after it.
    files.push_back(
        {"huge-tag.mp3",
         Tag(3, Frame(3, "TIT2",
                      "\x00"
                      "Before the picture"_b) +
                    Frame(3, "APIC", "\x00image/png\x00\x03\x00"_b + std::string(300 << 10, 'P'))) +
             cbr,
         "Before the picture", "", 2, nullptr});
    // Broken: a frame longer than its tag, then a tag that claims more than the file holds.
    files.push_back({"frame-overruns.mp3",
                     Tag(3, Frame(3, "TPE1",
                                  "\x00"
                                  "Kept"_b) +
                                "TIT2" + Be(5000, 4) + "\0\0\0Lost"_b) +
                         cbr,
                     "", "Kept", 2, nullptr});
    files.push_back(
        {"tag-overruns-file.mp3",
         "ID3\x03" + std::string(2, '\0') + Syncsafe(1 << 20) + Frame(3, "TIT2", "\x00Short"_b),
         "Short", "", -1, nullptr});
    // Broken: sync bytes with nothing after them that follows on.
    files.push_back({"no-frames.mp3", std::string("\xFF\xFB\x90\x00", 4) + std::string(3000, 'x'),
                     "", "", -1, nullptr});

    // FLAC: 44.1 kHz, 132,300 samples: 3 s.
    std::string info = FlacBlock(0, false, StreamInfo(44100, 132300));
    std::string frames(500, '\0');
    files.push_back(
        {"tagged.flac",
         "fLaC" + info + FlacBlock(1, false, std::string(100, '\0')) +
             FlacBlock(4, true, Comments({"title=" + title, "ARTIST=" + artist, "ARTIST=Two"})) +
             frames,
         title, artist, 3, "TagLib joins repeated fields with spaces; the first is taken here"});
    // A picture longer than the head before the comments, far from the end: read where the block
    // headers lead.
    files.push_back({"picture-first.flac",
                     "fLaC" + info + FlacBlock(6, false, std::string(300 << 10, 'p')) +
                         FlacBlock(4, true, Comments({"TITLE=Late", "ARTIST=" + artist})) +
                         std::string(100 << 10, '\0'),
                     "Late", artist, 3, nullptr});
    files.push_back({"untagged.flac",
                     "fLaC" + FlacBlock(0, true, StreamInfo(44100, 132300)) + frames, "", "", 3,
                     nullptr});
    files.push_back({"id3-before.flac",
                     Tag(3, Frame(3, "TIT2", "\x00Id3"_b) + Frame(3, "TPE1", "\x00Id3 artist"_b)) +
                         "fLaC" + info + FlacBlock(4, true, Comments({"TITLE=Comment"})) + frames,
                     "Comment", "Id3 artist", 3, nullptr});
    // Broken: a comment block that claims more than the file, a comment longer than its block.
    files.push_back({"broken.flac",
                     "fLaC" + info + "\x84" + Be(1 << 20, 3) + Le(0, 4) + Le(2, 4) + Le(7, 4) +
                         "TITLE=X" + Le(1000, 4) + "ARTIST=cut",
                     "X", "", 3, "TagLib ignores a block longer than the file"});

    // Ogg Vorbis, 44.1 kHz, last granule 220,500: 5 s. Opus: 48 kHz after a pre-skip.
    std::string vorbisComments = Comments({"TITLE=" + title, "Artist=" + artist});
    files.push_back(
        {"tagged.ogg", Vorbis(44100, vorbisComments, 220500), title, artist, 5, nullptr});
    files.push_back(
        {"split-comment.ogg",
         Vorbis(44100, Comments({"DESCRIPTION=" + std::string(600, 'd'), "TITLE=" + title}), 220500,
                true),
         title, "", 5, nullptr});
    files.push_back({"untagged.ogg", Vorbis(22050, Comments({}), 44100 * 3), "", "", 6, nullptr});
    files.push_back({"tagged.opus",
                     Opus(312, Comments({"title=Opus", "artist=" + artist}), 48000 * 7 + 312),
                     "Opus", artist, 7, nullptr});
    {
        // Broken: the last page's segment table runs past the end of the file.
        std::string cut = Vorbis(44100, vorbisComments, 220500);
        cut.resize(cut.size() - 150);
        files.push_back({"cut.ogg", cut, title, artist, 5, nullptr});
        std::string page = OggPage({std::string(10, 'x')}, 0, 0, 2);
        page[26] = '\x40';
        files.push_back({"bad-page.ogg", page, "", "", -1, nullptr});
    }

    // MP4: the movie's header says 3,500 of 1,000 a second.
    std::string ilst = Mp4Text("\xA9nam", title) + Mp4Text("\xA9"
                                                           "ART",
                                                           artist);
    std::string mdat = Box("mdat", std::string(1000, '\0'));
    files.push_back(
        {"tagged.m4a", Ftyp() + Moov(1000, 3500, ilst) + mdat, title, artist, 3, nullptr});
    files.push_back(
        {"untagged.m4a", Ftyp() + Moov(44100, 44100 * 4, "") + mdat, "", "", 4, nullptr});
    // The movie after 300 KiB of media and before 100 KiB of free space: beyond the head and
    // the tail, where the box headers lead.
    files.push_back({"moov-in-middle.m4a",
                     Ftyp() + Box("mdat", std::string(300 << 10, '\0')) + Moov(1000, 61000, ilst) +
                         Box("free", std::string(100 << 10, '\0')),
                     title, artist, 61, nullptr});
    // Broken: a box whose size is below its header's, and one that runs past its parent.
    files.push_back({"broken.m4a",
                     Ftyp() + Box("moov", Be(4, 4) + "mvhd" + std::string(100, '\0')) + mdat, "",
                     "", -1, nullptr});
    files.push_back(
        {"item-overruns.m4a",
         Ftyp() +
             Moov(1000, 2000,
                  Mp4Text("\xA9"
                          "ART",
                          artist) +
                      Be(500, 4) + "\xA9nam" + Box("data", Be(1, 4) + Be(0, 4) + "Lost")) +
             mdat,
         "", artist, 2, "TagLib reads an item past the end of its list; the walk ends there here"});

    // WAV: 8,000 bytes a second, 24,000 of data: 3 s; the INFO list after the data.
    std::string data = Chunk("data", std::string(24000, '\x80'));
    std::string infoList = Chunk("LIST", "INFO" + Chunk("INAM", latinTitle + std::string(1, '\0')) +
                                             Chunk("IART", artist + std::string(1, '\0')));
    files.push_back(
        {"info.wav", Riff(Fmt() + data + infoList), title, artist, 3,
         "TagLib's file reference gives a WAV file's ID3v2 tag alone, never its INFO list"});
    files.push_back({"plain.wav", Riff(Fmt() + data), "", "", 3, nullptr});
    files.push_back(
        {"id3.wav",
         Riff(Fmt() + infoList + data + Chunk("id3 ", Tag(3, Frame(3, "TIT2", "\x00Id3 title"_b)))),
         "Id3 title", artist, 3,
         "TagLib's file reference gives a WAV file's ID3v2 tag alone, never its INFO list"});
    // Broken: a data size left at its placeholder by a writer that never came back.
    {
        std::string streamed =
            Riff(Fmt() + "data" + Le(0xFFFFFFFF, 4) + std::string(16000, '\x80'));
        files.push_back({"streamed.wav", streamed, "", "", 2, "TagLib takes the size as written"});
    }
    files.push_back({"notes.txt", "Not a media file at all.\n", "", "", -1, nullptr});
    files.push_back({"empty.mp3", "", "", "", -1, nullptr});
    return files;
}

} // namespace

const std::vector<MediaFile>& MediaFiles() {
    static const std::vector<MediaFile> files = Make();
    return files;
}
