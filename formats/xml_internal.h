// The parts the XML playlist module's own files share (formats/xml.cpp reads, xml_write.cpp
// writes, xml_text.cpp holds the text helpers): not for other modules, which use formats/xml.h.
#pragma once

#include <expat.h>
#include <stddef.h>

#include "formats/xml.h"

namespace XmlInternal {

// Longer text (a location, a title, an xml:base) names nothing we could list.
const size_t MaxText = 64 * 1024;
const char VlcApplication[] = "http://www.videolan.org/vlc/playlist/0";

struct Span {
    size_t Start, End;
};

struct Buffer {
    char* Data;
    size_t Size, Capacity;
    bool Failed; // out of memory: everything after is dropped
};

struct Units {
    const unsigned char* Bytes;
    size_t Size;
    size_t Begin; // past the byte-order mark
    size_t Width; // 1, or 2 for UTF-16
    bool BigEndian;
    XmlEncoding Encoding;
};

struct Detected {
    XmlEncoding Encoding;
    size_t Begin;         // bytes of the byte-order mark
    const char* ForExpat; // the encoding Expat is told, when the file does not say
};
// Growable text; a Buffer starts zero-filled.
void Put(Buffer* b, const void* data, size_t n);
void Put(Buffer* b, const char* text);
void PutByte(Buffer* b, unsigned char c);
void PutNumber(Buffer* b, unsigned long long n);
void Drop(Buffer* b);

// The text as a zero-terminated heap string the caller owns ("" when empty); null when out of
// memory, with *failed set.
char* Take(Buffer* b, bool* failed);

char* Copy(const char* text, size_t n, bool* failed);
char* Copy(const char* text, bool* failed);

bool SameNoCase(const char* a, const char* b);
bool IsXmlSpace(unsigned c);
bool IsNameStart(unsigned c);
bool IsNameChar(unsigned c);

// The local part of a qualified name: what follows its prefix.
const char* LocalName(const char* name);

// The file's code units: bytes, or UTF-16 units.
Units MakeUnits(const unsigned char* bytes, size_t size, XmlEncoding encoding, size_t begin);
unsigned UnitAt(const Units& u, size_t pos);
bool Blank(unsigned c);

// Where an element's own text begins: the start of its line when only blanks stand before it.
size_t LineStartBefore(const Units& u, size_t pos, bool* atLineStart);

// Where an element's own text ends: past the line end when only blanks follow it.
size_t LineEndAfter(const Units& u, size_t pos, bool* pastLineEnd);

// A reference at *pos (just past '&'): one of XML's five names or a character number. Anything
// else is a bare '&' (ASX files have them) and reads as itself.
bool ReadReference(const Units& u, size_t* pos, size_t end, unsigned* c);

// The file's text in [start, end) as UTF-8; with `references`, XML's references are read.
void DecodeSpan(const Units& u, size_t start, size_t end, bool references, Buffer* out);

// The encoding: a byte-order mark, the declaration, else UTF-8 (ASX: Latin-1 when not UTF-8).
Detected DetectEncoding(const unsigned char* bytes, size_t size, PlaylistFormat format);

// Expat knows UTF-8, UTF-16, Latin-1 and ASCII; Windows-1252 is given to it here.
int XMLCALL UnknownEncoding(void*, const XML_Char* name, XML_Encoding* info);

// New text in the file's encoding; a character the encoding lacks becomes a character
// reference, so it must be text or an attribute value.
void Encode(const char* utf8, size_t n, XmlEncoding encoding, Buffer* out);

// Text escaped for an XML attribute value or element content.
void PutEscaped(Buffer* b, const char* text);

// "http:" or "file:", not a drive letter.
size_t SchemeLength(const char* s);
bool IsDrivePath(const char* s);

// The path of a merged reference without "." and ".." segments; ".." that would climb above a
// relative path's start stays, since it climbs above the playlist's folder.
void RemoveDots(const char* path, bool rooted, Buffer* out);

// A reference resolved against a base (itself resolved), as the URI rules merge them.
void Resolve(const char* base, const char* ref, Buffer* out);

// Entries' texts, kept in a few large blocks rather than one allocation each: a copy of `text`
// zero-terminated, freed with all the others by FreeTexts; null when out of memory.
char* KeepText(XmlTexts** texts, const char* text, size_t n, bool* failed);
void FreeTexts(XmlTexts* texts);

// What a reference (trimmed, without control characters) names once resolved against its
// base and percent-decoded, on the heap.
char* ResolvedLocation(const char* ref, size_t n, const char* base, bool* failed);

// What a location's text names: trimmed, resolved against its base, decoded, kept in `texts`.
// Null when empty or when it holds a line break or another control character (a URI cut over
// lines).
char* LocationOf(const char* text, size_t n, const char* base, XmlTexts** texts, bool* failed);

bool UnitsAre(const Units& u, size_t pos, const char* ascii);

// The position past `ascii` from pos on, or the end of the text when it never comes.
size_t PastNext(const Units& u, size_t pos, const char* ascii, bool* found);

// A name at pos, as ASCII (other characters as '?'), at most capacity - 1 of them.
size_t ReadName(const Units& u, size_t pos, char* name, size_t capacity);
size_t SkipBlanks(const Units& u, size_t pos);

// Room for `more` bytes and a terminator past Size; false when out of memory.
bool Reserve(Buffer* b, size_t more);

} // namespace XmlInternal

// Where and how the writers write, found while reading.
struct XmlLayout {
    const char* LineEnd;
    // Pack: [At, ReplaceEnd) is replaced by Before, the new entries, After.
    bool CanInsert;
    size_t At, ReplaceEnd;
    char* Before;
    char* After;
    char* Indent;      // before each new entry's first line
    char* ChildIndent; // before each line inside a new entry; null: all on one line
    bool OwnLines;     // each new entry ends its line
    char* EntryName;   // names as the neighbours write them
    char* ChildName;   // XSPF location, ASX ref
    char* HrefName;
    char* TitleName;
    char* AuthorName;
    const char* EmptyClose;
    bool WithTitle, WithCreator, WithDuration;
    // What a path relative to the playlist needs before it under the base where new entries
    // go ("../../" below xml:base="one/two/"); null when no relative reference can name it.
    char* RelativePrefix;
    // WPL: the ItemCount value.
    bool HasItemCount;
    XmlInternal::Span ItemCount;
    // VLC's list: each vlc:item and its id; new tracks get ids from VlcNextId.
    XmlInternal::Span* VlcItems;
    long long* VlcItemIds;
    size_t VlcItemCount;
    bool Vlc;
    long long VlcNextId;
    size_t VlcItemAt;
    char* VlcItemIndent;
    bool VlcItemOwnLines;
    char* VlcPrefix;
};
