// Which format a playlist is: by its content, and for a new file by its name.
#include "formats/format.h"

#include <cstring>

#include "formats/pls.h"
#include "formats/xml.h"

// Whether the text's first sign, past marks, blanks and zero bytes, opens an XML tag.
static bool OpensTag(const unsigned char* head, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (!memchr("\0 \t\r\n\xEF\xBB\xBF\xFE\xFF", head[i], 10)) {
            return head[i] == '<';
        }
    }
    return false;
}

PlaylistFormat FormatOfContent(const unsigned char* head, size_t size, PlaylistFormat named) {
    PlaylistFormat xml = SniffXmlFormat(head, size);
    bool binary = xml == FormatUnknown && !OpensTag(head, size);
    if (xml != FormatM3u && !(binary && named == FormatM3u)) {
        return xml;
    }
    return IsPlsText(head, size) ? FormatPls : FormatM3u;
}

PlaylistFormat FormatOfName(const char16_t* name) {
    static const struct {
        const char* Extension;
        PlaylistFormat Format;
    } known[] = {{"pls", FormatPls}, {"xspf", FormatXspf}, {"wpl", FormatWpl}, {"zpl", FormatWpl},
                 {"asx", FormatAsx}, {"wax", FormatAsx},   {"wvx", FormatAsx}};
    size_t dot = 0, n = 0;
    for (; name[n]; ++n) {
        if (name[n] == u'.') {
            dot = n + 1;
        } else if (name[n] == u'\\' || name[n] == u'/') {
            dot = 0;
        }
    }
    for (const auto& k : known) {
        size_t i = 0;
        for (; dot > 0 && k.Extension[i] && dot + i < n; ++i) {
            char16_t c = name[dot + i];
            if ((c >= u'A' && c <= u'Z' ? c + 32 : c) != static_cast<char16_t>(k.Extension[i])) {
                break;
            }
        }
        if (dot > 0 && !k.Extension[i] && dot + i == n) {
            return k.Format;
        }
    }
    return FormatM3u;
}
