// XSPF, WPL and ASX playlists written again: the file's bytes as they were, with the spans a
// delete removes, the new entries a pack inserts where reading found they go, and the counts and
// lists the formats keep (WPL's ItemCount, VLC's items) made to match.
#include <stdlib.h>
#include <string.h>

#include "formats/xml.h"
#include "formats/xml_internal.h"

using namespace XmlInternal;

namespace {

// ---- Writing ---------------------------------------------------------------------------------

struct Edit {
    size_t Start, End; // replaced by Text
    const char* Text;
    size_t Length;
};

int CompareEdits(const void* a, const void* b) {
    const Edit* x = (const Edit*)a;
    const Edit* y = (const Edit*)b;
    return x->Start < y->Start ? -1 : x->Start > y->Start ? 1 : 0;
}

bool WriteEdits(const unsigned char* bytes, size_t size, Edit* edits, size_t count,
                const XmlSink* sink) {
    qsort(edits, count, sizeof *edits, CompareEdits);
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        if (edits[i].Start < pos || edits[i].End < edits[i].Start || edits[i].End > size) {
            return false;
        }
        if ((edits[i].Start > pos &&
             !sink->Write(sink->Context, bytes + pos, edits[i].Start - pos)) ||
            (edits[i].Length && !sink->Write(sink->Context, edits[i].Text, edits[i].Length))) {
            return false;
        }
        pos = edits[i].End;
    }
    return pos == size || sink->Write(sink->Context, bytes + pos, size - pos);
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool IsAbsolutePath(const char* path) {
    return IsDrivePath(path) || path[0] == '/' || path[0] == '\\';
}

// A path as XSPF writes it: a percent-encoded relative reference, or a file:/// URI.
void PutUri(Buffer* b, const char* path) {
    bool drive = IsDrivePath(path);
    bool share = path[0] == '\\' && path[1] == '\\';
    bool windows = drive || share;
    if (drive) {
        Put(b, "file:///");
    } else if (share) {
        Put(b, "file:");
    } else if (path[0] == '/') {
        Put(b, "file://");
    }
    static const char hex[] = "0123456789ABCDEF";
    for (size_t i = 0; path[i]; ++i) {
        unsigned char c = (unsigned char)path[i];
        if (c == '\\' && windows) {
            c = '/';
        }
        if (IsUnreserved(c) || c == '/' || (drive && i == 1)) {
            PutByte(b, c);
        } else {
            char escaped[3] = {'%', hex[c >> 4], hex[c & 15]};
            Put(b, escaped, 3);
        }
    }
}

void PutElement(Buffer* b, const char* name, const char* escapedText, const char* text) {
    PutByte(b, '<');
    Put(b, name);
    PutByte(b, '>');
    Put(b, escapedText);
    if (text) {
        PutEscaped(b, text);
    }
    Put(b, "</");
    Put(b, name);
    PutByte(b, '>');
}

// An element holding a number, named by the first `prefixBytes` of `prefix` and `local`.
static void PutNumberElement(Buffer* b, const char* prefix, size_t prefixBytes, const char* local,
                             unsigned long long value) {
    Buffer number = {}, name = {};
    PutNumber(&number, value);
    Put(&name, prefix, prefixBytes);
    Put(&name, local);
    PutElement(b, name.Data, number.Data, nullptr);
    b->Failed |= number.Failed || name.Failed;
    Drop(&number);
    Drop(&name);
}

// One new entry as UTF-8, in its neighbours' form.
void PutEntry(const XmlLayout* l, PlaylistFormat format, const XmlNewEntry* entry, long long vlcId,
              Buffer* b) {
    Put(b, l->Indent);
    if (format == FormatWpl) {
        Buffer path = {};
        Put(&path, entry->Path);
        for (size_t i = 0; i < path.Size; ++i) {
            if (path.Data[i] == '/') {
                path.Data[i] = '\\';
            }
        }
        PutByte(b, '<');
        Put(b, l->EntryName);
        Put(b, " src=\"");
        PutEscaped(b, path.Data ? path.Data : "");
        PutByte(b, '"');
        Put(b, l->EmptyClose);
        b->Failed |= path.Failed;
        Drop(&path);
    } else {
        // Children on lines of their own, as the neighbours have them, or all on one line.
        Buffer line = {}, deeper = {};
        if (l->ChildIndent) {
            Put(&line, l->LineEnd);
            Put(&line, l->ChildIndent);
            Put(&deeper, line.Data);
            size_t indent = strlen(l->Indent ? l->Indent : "");
            size_t child = strlen(l->ChildIndent);
            Put(&deeper, child > indent ? l->ChildIndent + indent : "  ");
        }
        const char* sep = line.Data ? line.Data : "";
        PutByte(b, '<');
        Put(b, l->EntryName);
        PutByte(b, '>');
        Put(b, sep);
        if (format == FormatXspf) {
            Buffer uri = {};
            if (!IsAbsolutePath(entry->Path)) {
                Put(&uri, l->RelativePrefix);
            }
            PutUri(&uri, entry->Path);
            PutElement(b, l->ChildName, nullptr, uri.Data ? uri.Data : "");
            b->Failed |= uri.Failed;
            Drop(&uri);
        } else {
            PutByte(b, '<');
            Put(b, l->ChildName);
            PutByte(b, ' ');
            Put(b, l->HrefName);
            Put(b, "=\"");
            if (!IsAbsolutePath(entry->Path)) {
                PutEscaped(b, l->RelativePrefix);
            }
            PutEscaped(b, entry->Path);
            PutByte(b, '"');
            Put(b, l->EmptyClose);
        }
        if (l->WithTitle && entry->Title) {
            Put(b, sep);
            PutElement(b, l->TitleName, nullptr, entry->Title);
        }
        if (l->WithCreator && entry->Creator) {
            Put(b, sep);
            PutElement(b, l->AuthorName, nullptr, entry->Creator);
        }
        if (format == FormatXspf && l->WithDuration && entry->DurationMs >= 0) {
            Put(b, sep);
            // The track's own prefix, whatever it is.
            size_t prefix = (size_t)(LocalName(l->EntryName) - l->EntryName);
            PutNumberElement(b, l->EntryName, prefix, "duration",
                             (unsigned long long)entry->DurationMs);
        }
        if (vlcId >= 0) {
            Put(b, sep);
            Put(b, "<extension application=\"");
            Put(b, VlcApplication);
            Put(b, "\">");
            Put(b, deeper.Data);
            PutNumberElement(b, l->VlcPrefix, l->VlcPrefix ? strlen(l->VlcPrefix) : 0, ":id",
                             (unsigned long long)vlcId);
            Put(b, sep);
            Put(b, "</extension>");
        }
        if (l->ChildIndent) {
            Put(b, l->LineEnd);
            Put(b, l->Indent);
        }
        Put(b, "</");
        Put(b, l->EntryName);
        PutByte(b, '>');
        b->Failed |= line.Failed || deeper.Failed;
        Drop(&line);
        Drop(&deeper);
    }
    if (l->OwnLines) {
        Put(b, l->LineEnd);
    }
}

bool WriteNewFile(PlaylistFormat format, const XmlNewEntry* entries, size_t count,
                  const XmlSink* sink) {
    XmlLayout l;
    memset(&l, 0, sizeof l);
    l.OwnLines = true;
    l.EmptyClose = "/>";
    l.WithTitle = l.WithCreator = l.WithDuration = true;
    Buffer b = {};
    if (format == FormatXspf) {
        l.LineEnd = "\n";
        l.Indent = (char*)"    ";
        l.ChildIndent = (char*)"      ";
        l.EntryName = (char*)"track";
        l.ChildName = (char*)"location";
        l.TitleName = (char*)"title";
        l.AuthorName = (char*)"creator";
        Put(&b, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">\n"
                "  <trackList>\n");
    } else if (format == FormatWpl) {
        l.LineEnd = "\r\n";
        l.Indent = (char*)"            ";
        l.EntryName = (char*)"media";
        Put(&b, "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n"
                "        <meta name=\"ItemCount\" content=\"");
        PutNumber(&b, count);
        Put(&b, "\"/>\r\n    </head>\r\n    <body>\r\n        <seq>\r\n");
    } else if (format == FormatAsx) {
        l.LineEnd = "\r\n";
        l.Indent = (char*)"  ";
        l.ChildIndent = (char*)"    ";
        l.EntryName = (char*)"entry";
        l.ChildName = (char*)"ref";
        l.HrefName = (char*)"href";
        l.TitleName = (char*)"title";
        l.AuthorName = (char*)"author";
        Put(&b, "<asx version=\"3.0\">\r\n");
    } else {
        return false;
    }
    l.RelativePrefix = (char*)"";
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].Path) {
            Drop(&b);
            return false;
        }
        PutEntry(&l, format, &entries[i], -1, &b);
    }
    Put(&b, format == FormatXspf  ? "  </trackList>\n</playlist>\n"
            : format == FormatWpl ? "        </seq>\r\n    </body>\r\n</smil>\r\n"
                                  : "</asx>\r\n");
    bool ok = !b.Failed && sink->Write(sink->Context, b.Data, b.Size);
    Drop(&b);
    return ok;
}

int CompareIds(const void* a, const void* b) {
    long long x = *(const long long*)a, y = *(const long long*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

bool HasId(const long long* ids, size_t count, long long id) {
    return bsearch(&id, ids, count, sizeof id, CompareIds) != nullptr;
}

} // namespace

bool WriteXmlWithout(const XmlPlaylist* playlist, const unsigned char* bytes, size_t size,
                     const bool* remove, const XmlSink* sink) {
    if (!playlist || !playlist->Whole || !playlist->Layout || !sink ||
        (!remove && playlist->Count)) {
        return false;
    }
    const XmlLayout* l = playlist->Layout;
    size_t removed = 0;
    for (size_t i = 0; i < playlist->Count; ++i) {
        removed += remove[i] ? 1 : 0;
    }
    // The ids of the tracks that go and of those that stay: a vlc:item goes when its id goes
    // and no track that stays has it.
    long long* gone = (long long*)malloc((removed + 1) * sizeof(long long));
    long long* kept = (long long*)malloc((playlist->Count - removed + 1) * sizeof(long long));
    Edit* edits = (Edit*)malloc((removed + l->VlcItemCount + 1) * sizeof(Edit));
    Buffer count = {};
    bool ok = gone && kept && edits;
    size_t goneCount = 0, keptCount = 0, editCount = 0;
    for (size_t i = 0; ok && i < playlist->Count; ++i) {
        const XmlEntry& e = playlist->Entries[i];
        if (remove[i]) {
            edits[editCount++] = {e.Start, e.End, nullptr, 0};
            gone[goneCount++] = e.VlcId;
        } else {
            kept[keptCount++] = e.VlcId;
        }
    }
    if (ok && l->VlcItemCount) {
        qsort(gone, goneCount, sizeof *gone, CompareIds);
        qsort(kept, keptCount, sizeof *kept, CompareIds);
    }
    if (ok) {
        for (size_t i = 0; i < l->VlcItemCount; ++i) {
            long long id = l->VlcItemIds[i];
            if (id >= 0 && HasId(gone, goneCount, id) && !HasId(kept, keptCount, id)) {
                edits[editCount++] = {l->VlcItems[i].Start, l->VlcItems[i].End, nullptr, 0};
            }
        }
        if (l->HasItemCount && removed) {
            Buffer digits = {};
            PutNumber(&digits, playlist->Count - removed);
            Encode(digits.Data, digits.Size, playlist->Encoding, &count);
            ok = !digits.Failed && !count.Failed;
            Drop(&digits);
            edits[editCount++] = {l->ItemCount.Start, l->ItemCount.End, count.Data, count.Size};
        }
    }
    ok = ok && WriteEdits(bytes, size, edits, editCount, sink);
    free(gone);
    free(kept);
    free(edits);
    Drop(&count);
    return ok;
}

bool WriteXmlWith(const XmlPlaylist* playlist, PlaylistFormat format, const unsigned char* bytes,
                  size_t size, const XmlNewEntry* entries, size_t count, const XmlSink* sink) {
    if (!sink) {
        return false;
    }
    if (size == 0) {
        return WriteNewFile(format, entries, count, sink);
    }
    if (!playlist || !playlist->Whole || !playlist->Layout || !playlist->Layout->CanInsert ||
        playlist->Format != format) {
        return false;
    }
    if (count == 0) {
        return sink->Write(sink->Context, bytes, size);
    }
    const XmlLayout* l = playlist->Layout;
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].Path || (!l->RelativePrefix && !IsAbsolutePath(entries[i].Path))) {
            return false; // a base no relative reference climbs out of
        }
    }
    bool vlc = format == FormatXspf && l->Vlc;
    Buffer text = {}, items = {}, number = {};
    Put(&text, l->Before);
    for (size_t i = 0; i < count; ++i) {
        long long id = vlc ? l->VlcNextId + (long long)i : -1;
        PutEntry(l, format, &entries[i], id, &text);
        if (vlc) {
            Put(&items, l->VlcItemIndent);
            PutByte(&items, '<');
            Put(&items, l->VlcPrefix);
            Put(&items, ":item tid=\"");
            PutNumber(&items, (unsigned long long)id);
            Put(&items, "\"/>");
            if (l->VlcItemOwnLines) {
                Put(&items, l->LineEnd);
            }
        }
    }
    Put(&text, l->After);
    Buffer encodedText = {}, encodedItems = {}, encodedCount = {};
    Encode(text.Data, text.Size, playlist->Encoding, &encodedText);
    Encode(items.Data, items.Size, playlist->Encoding, &encodedItems);
    Edit edits[3];
    size_t editCount = 0;
    edits[editCount++] = {l->At, l->ReplaceEnd, encodedText.Data, encodedText.Size};
    if (vlc && count) {
        edits[editCount++] = {l->VlcItemAt, l->VlcItemAt, encodedItems.Data, encodedItems.Size};
    }
    if (l->HasItemCount && count) {
        PutNumber(&number, playlist->Count + count);
        Encode(number.Data, number.Size, playlist->Encoding, &encodedCount);
        edits[editCount++] = {l->ItemCount.Start, l->ItemCount.End, encodedCount.Data,
                              encodedCount.Size};
    }
    bool ok = !text.Failed && !items.Failed && !number.Failed && !encodedText.Failed &&
              !encodedItems.Failed && !encodedCount.Failed &&
              WriteEdits(bytes, size, edits, editCount, sink);
    Drop(&text);
    Drop(&items);
    Drop(&number);
    Drop(&encodedText);
    Drop(&encodedItems);
    Drop(&encodedCount);
    return ok;
}
