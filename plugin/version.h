// Names and numbers shown by the about box and carried by the version resource.
#pragma once

#define M3U_PRODUCT_NAME "Tarvelin"
#define M3U_VERSION_TEXT "1.0.0"
#define M3U_VERSION_NUMBERS 1, 0, 0, 0
#define M3U_COPYRIGHT "Copyright (C) 2026 the Tarvelin developers"
