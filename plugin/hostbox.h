// The message box the Linux host lends the plug-in, kept for the about box.
// Why this state exists: the host hands its services over once, in ExtensionInitialize, on a
// record that lives only for that call; the about box is asked for later, in ConfigurePacker,
// which receives nothing to show a box with. So the one function pointer is copied out of the
// record and kept for as long as the library stays loaded, set by the first record that holds
// one. It is atomic: the host may load the plug-in on one thread and open its options on another.
#pragma once

#include "plugin/wcx.h"

// Keeps the record's message box when the record reaches past it (by its StructSize) and the
// pointer is set, and nothing has been kept yet. Reads nothing beyond StructSize; null is no
// record.
void KeepHostMessageBox(const tExtensionStartupInfo* info);

// Shows UTF-8 text under the caption through the kept box, with the host's MB_* flags, and gives
// its answer; 0 without a kept box.
int ShowHostMessageBox(char* text, char* caption, long flags);
