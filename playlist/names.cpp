// The host's lists of names, wide or narrow.
#include <cstring>

#include "playlist/playlist.h"
#include "text/text.h"

void StartNames(NameList* list, const char16_t* wide, const char* narrow) {
    list->Wide = wide;
    list->Narrow = narrow;
    list->Offset = 0;
    list->Converted[0] = 0;
}

const char16_t* NextName(NameList* list) {
    if (list->Wide) {
        const char16_t* name = list->Wide + list->Offset;
        if (!name[0]) {
            return nullptr;
        }
        list->Offset += WideLength(name) + 1;
        return name;
    }
    if (!list->Narrow) {
        return nullptr;
    }
    const char* name = list->Narrow + list->Offset;
    if (!name[0]) {
        return nullptr;
    }
    memset(list->Converted, 0, sizeof list->Converted);
    if (!AnsiToWide(name, list->Converted, PathUnits)) {
        return nullptr;
    }
    list->Offset += strlen(name) + 1;
    return list->Converted;
}

bool NamesConvert(NameList* list) {
    bool whole = true;
    if (!list->Wide && list->Narrow) {
        list->Offset = 0;
        while (NextName(list)) {
        }
        whole = !list->Narrow[list->Offset];
    }
    list->Offset = 0;
    return whole;
}

const char16_t* NameAt(const NameList* list, size_t offset, char16_t* scratch, size_t* units) {
    const char16_t* name = scratch;
    if (list->Wide) {
        name = list->Wide + offset;
    } else if (!AnsiToWide(list->Narrow + offset, scratch, PathUnits)) {
        return nullptr;
    }
    *units = WideLength(name);
    return name;
}
