// The about box: on Windows the system's box, caught on the calling thread as it appears and
// closed with OK; for the Linux host the box that host lends through ExtensionInitialize, here a
// recording one. Both show the same text.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "build_date.h"
#include "plugin/exports.h"
#include "plugin/version.h"
#include "text/text.h"

namespace {

const char* const Caption = "Tarvelin";

std::string ExpectedText() {
    return std::string("Tarvelin\nVersion ") + M3U_VERSION_TEXT + " (" + M3U_BUILD_DATE + ")\n\n" +
           "Copyright (C) 2026 the Tarvelin developers";
}

// The date is the commit's (tests/release-check compares it with git), in the form of the
// compiler's __DATE__: three-letter month, the day padded with a space, the year.
bool DatedAsTheCompilerDoes(const std::string& text) {
    return std::regex_match(
        text,
        std::regex("Tarvelin\nVersion [0-9]+\\.[0-9]+\\.[0-9]+ "
                   "\\((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) "
                   "20[0-9]{2}\\)\n\n.*"));
}

#ifdef _WIN32
struct SeenBox {
    HWND Box = nullptr;
    int Boxes = 0;
    std::string Caption, Text;
    bool InformationIcon = false;
    bool OkOnly = false;
};
SeenBox Seen;
HHOOK Hook;

// Message boxes keep their text in a static control with this id, and their icon in another.
const int BoxTextId = 0xFFFF;
const int BoxIconId = 0x0440;

LRESULT CALLBACK WatchWindows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char text[1024] = {};
        GetClassNameA(box, text, sizeof text);
        // Activations of other windows, or of the box again while it closes, are not new boxes.
        if (std::string(text) == "#32770" && box != Seen.Box) {
            Seen.Box = box;
            ++Seen.Boxes;
            GetWindowTextA(box, text, sizeof text);
            Seen.Caption = text;
            GetDlgItemTextA(box, BoxTextId, text, sizeof text);
            Seen.Text = text;
            Seen.InformationIcon =
                SendDlgItemMessageA(box, BoxIconId, STM_GETICON, 0, 0) ==
                reinterpret_cast<LRESULT>(LoadIconA(nullptr, MAKEINTRESOURCEA(32516)));
            Seen.OkOnly = GetDlgItem(box, IDOK) != nullptr &&
                          GetDlgItem(box, IDCANCEL) == nullptr && GetDlgItem(box, IDYES) == nullptr;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(Hook, code, wParam, lParam);
}
#endif

} // namespace

#ifdef _WIN32
TEST(About, ShowsOneInformationBoxWithProductVersionAndDate) {
    Hook = SetWindowsHookExA(WH_CBT, WatchWindows, nullptr, GetCurrentThreadId());
    ASSERT_NE(Hook, nullptr);
    int answer = ConfigurePacker(nullptr, nullptr);
    UnhookWindowsHookEx(Hook);

    EXPECT_EQ(answer, IDOK) << "needs a display: run under xvfb-run";
    EXPECT_EQ(Seen.Boxes, 1);
    EXPECT_EQ(Seen.Caption, Caption);
    // Wine draws the text with CR LF where the format has LF; compare lines.
    std::string text = Seen.Text;
    for (size_t at; (at = text.find('\r')) != std::string::npos;) {
        text.erase(at, 1);
    }
    EXPECT_EQ(text, ExpectedText());
    EXPECT_TRUE(DatedAsTheCompilerDoes(text)) << text;
    EXPECT_TRUE(Seen.InformationIcon);
    EXPECT_TRUE(Seen.OkOnly);
}
#endif

#if M3U_LINUX_HOST
namespace {

// What one of the host's boxes was shown.
struct Shown {
    int Calls = 0;
    std::string Text, Caption;
    long Flags = -1;
};
Shown ByFirst, BySecond, ByOther;

void Note(Shown* shown, const char* text, const char* caption, long flags) {
    ++shown->Calls;
    shown->Text = text; // a text without its terminator runs past the plug-in's buffer (ASan)
    shown->Caption = caption;
    shown->Flags = flags;
}
int FirstBox(char* text, char* caption, long flags) {
    Note(&ByFirst, text, caption, flags);
    return 1; // OK
}
int SecondBox(char* text, char* caption, long flags) {
    Note(&BySecond, text, caption, flags);
    return 2;
}
// Stands in every other service of the record: a call means the wrong slot was read.
int OtherService(char* text, char* caption, long flags) {
    Note(&ByOther, text, caption, flags);
    return 3;
}

// The host's record laid out from its offsets: StructSize at 0, the two folders at 4 and 16388,
// then fourteen pointer-wide fields from 32772 (MessageBox the second), LanguageID, and reserved
// bytes up to 65,588 on x86-64, as Double Commander 1.0.10 passes it. The buffer is `bytes` long,
// so a read past a short record's end lands outside it.
const size_t ServicesAt = 32772, Pointer = sizeof(void*);
const size_t MessageBoxAt = ServicesAt + Pointer, MessageBoxEnd = MessageBoxAt + Pointer;
const size_t LanguageAt = ServicesAt + 14 * Pointer, HostBytes = LanguageAt + 16 + 4086 * Pointer;

std::vector<unsigned char> StartupRecord(uint32_t structSize, size_t bytes, HostMessageBox box) {
    std::vector<unsigned char> record(HostBytes, 0);
    memcpy(&record[0], &structSize, 4);
    strcpy(reinterpret_cast<char*>(&record[4]), "/opt/m3u/");
    strcpy(reinterpret_cast<char*>(&record[16388]), "/home/u/.config/doublecmd/");
    HostMessageBox other = OtherService;
    for (size_t at = ServicesAt; at < LanguageAt; at += Pointer) {
        memcpy(&record[at], &other, Pointer);
    }
    memcpy(&record[MessageBoxAt], &box, Pointer);
    strcpy(reinterpret_cast<char*>(&record[LanguageAt]), "en");
    record.resize(bytes);
    record.shrink_to_fit();
    return record;
}

TEST(About, ThroughTheBoxTheLinuxHostLends) {
    // In this order: the box is kept once per loaded library, so every record that must keep
    // nothing comes before the first that keeps one.
    struct Case {
        const char* What;
        uint32_t StructSize;
        size_t Bytes;
        HostMessageBox Box;
        int Answer, FirstCalls; // ConfigurePacker's result after it; calls of FirstBox so far
    };
    const Case cases[] = {
        {"no record: the options do nothing", 0, 0, FirstBox, 0, 0},
        {"StructSize 0", 0, 4, FirstBox, 0, 0},
        {"a record of the folders alone", ServicesAt, HostBytes, FirstBox, 0, 0},
        {"a record that ends before MessageBox", MessageBoxAt, HostBytes, FirstBox, 0, 0},
        {"a record that ends inside MessageBox", MessageBoxEnd - 1, HostBytes, FirstBox, 0, 0},
        {"a null MessageBox", HostBytes, HostBytes, nullptr, 0, 0},
        {"a record that ends with MessageBox", MessageBoxEnd, MessageBoxEnd, FirstBox, 1, 1},
        {"a second record changes nothing", HostBytes, HostBytes, SecondBox, 1, 2},
    };
    for (const Case& c : cases) {
        if (c.Bytes == 0) {
            ExtensionInitialize(nullptr);
        } else {
            std::vector<unsigned char> record = StartupRecord(c.StructSize, c.Bytes, c.Box);
            ExtensionInitialize(reinterpret_cast<tExtensionStartupInfo*>(record.data()));
        } // the record is gone, as the host's stack frame is
        EXPECT_EQ(ConfigurePacker(nullptr, nullptr), c.Answer) << c.What;
        EXPECT_EQ(ByFirst.Calls, c.FirstCalls) << c.What;
    }
    EXPECT_EQ(BySecond.Calls, 0);
    EXPECT_EQ(ByOther.Calls, 0);

    EXPECT_EQ(ByFirst.Caption, Caption);
    EXPECT_EQ(ByFirst.Text, ExpectedText());
    EXPECT_TRUE(DatedAsTheCompilerDoes(ByFirst.Text)) << ByFirst.Text;
    EXPECT_EQ(ByFirst.Flags, HostBoxOk | HostBoxInformation);
    EXPECT_EQ(ByFirst.Flags, 0x40); // MB_OK | MB_ICONINFORMATION
    // The host reads UTF-8: lines end in LF alone, and every byte is UTF-8 as written.
    EXPECT_EQ(ByFirst.Text.find('\r'), std::string::npos);
    EXPECT_TRUE(IsUtf8Text(ByFirst.Text.data(), ByFirst.Text.size()));
    EXPECT_TRUE(IsUtf8Text(ByFirst.Caption.data(), ByFirst.Caption.size()));
}

} // namespace
#endif
