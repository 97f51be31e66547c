// The playlist formats the plug-in reads and writes.
#pragma once

enum PlaylistFormat { FormatM3u, FormatPls, FormatXspf, FormatWpl, FormatAsx, FormatUnknown };
