// The about box, caught on the calling thread as it appears and closed with OK.
#include <windows.h>

#include <cstring>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "build_date.h"
#include "plugin/exports.h"
#include "plugin/version.h"

namespace {

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

} // namespace

TEST(About, ShowsOneInformationBoxWithProductVersionAndDate) {
    Hook = SetWindowsHookExA(WH_CBT, WatchWindows, nullptr, GetCurrentThreadId());
    ASSERT_NE(Hook, nullptr);
    int answer = ConfigurePacker(nullptr, nullptr);
    UnhookWindowsHookEx(Hook);

    EXPECT_EQ(answer, IDOK) << "needs a display: run under xvfb-run";
    EXPECT_EQ(Seen.Boxes, 1);
    EXPECT_EQ(Seen.Caption, "Tarvelin");
    // Wine draws the text with CR LF where the format has LF; compare lines.
    std::string text = Seen.Text;
    for (size_t at; (at = text.find('\r')) != std::string::npos;) {
        text.erase(at, 1);
    }
    std::string expected = std::string("Tarvelin\nVersion ") + M3U_VERSION_TEXT + " (" +
                           M3U_BUILD_DATE + ")\n\n" + "Copyright (C) 2026 the Tarvelin developers";
    EXPECT_EQ(text, expected);
    // The date is the commit's (tests/release-check compares it with git), in the form of the
    // compiler's __DATE__: three-letter month, the day padded with a space, the year.
    EXPECT_TRUE(std::regex_match(
        text,
        std::regex("Tarvelin\nVersion [0-9]+\\.[0-9]+\\.[0-9]+ "
                   "\\((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) "
                   "20[0-9]{2}\\)\n\n.*")))
        << text;
    EXPECT_TRUE(Seen.InformationIcon);
    EXPECT_TRUE(Seen.OkOnly);
}
