// Names and numbers shown by the about box and carried by the version resource. The version is
// set here alone: the text, the resource's numbers, the release archives' names follow it.
#pragma once

#define M3U_VERSION_MAJOR 1
#define M3U_VERSION_MINOR 0
#define M3U_VERSION_PATCH 0

#define M3U_PRODUCT_NAME "Tarvelin"
#define M3U_COPYRIGHT "Copyright (C) 2026 the Tarvelin developers"

#define M3U_STRINGIZE(x) #x
#define M3U_TEXT(x) M3U_STRINGIZE(x)
#define M3U_VERSION_TEXT                                                                           \
    M3U_TEXT(M3U_VERSION_MAJOR) "." M3U_TEXT(M3U_VERSION_MINOR) "." M3U_TEXT(M3U_VERSION_PATCH)
#define M3U_VERSION_NUMBERS M3U_VERSION_MAJOR, M3U_VERSION_MINOR, M3U_VERSION_PATCH, 0
