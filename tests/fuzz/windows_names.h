// What a Windows host can make of a listed name, written from Windows' rules rather than from the
// plug-in's: for the fuzz targets and the suites alike.
#pragma once

#include <cstddef>
#include <string>

#include "path/path.h"

// Whether one part of a name is a file name Windows can create: not empty, not "." or "..", no
// < > : " | ? * / \ or control character, no trailing dot or space, and no device name before
// its first dot (and any spaces ahead of that dot).
inline bool IsWindowsFileName(const std::u16string& part) {
    if (part.empty() || part.back() == u'.' || part.back() == u' ') {
        return false;
    }
    for (char16_t c : part) {
        if (c < 0x20 || std::u16string(u"<>:\"|?*/\\").find(c) != std::u16string::npos) {
            return false;
        }
    }
    std::u16string stem = part.substr(0, part.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') {
        stem.pop_back();
    }
    for (char16_t& c : stem) {
        c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
    }
    if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL" || stem == u"CONIN$" ||
        stem == u"CONOUT$") {
        return false;
    }
    bool numbered =
        stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0);
    return !numbered ||
           std::u16string(u"0123456789\u00B9\u00B2\u00B3").find(stem[3]) == std::u16string::npos;
}

// Whether a listed name is relative and splits at '\' into names Windows can create, and a host
// that joins a destination folder and it stays inside that folder.
inline bool IsWindowsListedName(const std::u16string& name) {
    size_t from = 0;
    for (;;) {
        size_t end = name.find(u'\\', from);
        if (!IsWindowsFileName(name.substr(from, end == std::u16string::npos ? end : end - from))) {
            return false;
        }
        if (end == std::u16string::npos) {
            break;
        }
        from = end + 1;
    }
    // As the host joins it, in UTF-8, which keeps every separator and dot where it was.
    std::string joined = "D:\\dest\\";
    for (char16_t c : name) {
        joined += c < 0x80 ? static_cast<char>(c) : 'x';
    }
    char relative[4096];
    size_t length =
        RelativePath("D:\\dest", joined.c_str(), relative, sizeof relative, WindowsPaths);
    std::string inside(relative);
    return length > 0 && length < sizeof relative && inside != "." && inside != ".." &&
           inside.compare(0, 3, "..\\") != 0;
}
