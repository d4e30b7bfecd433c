// torvane.exe: the Win32 front-end. The windows are in ui/win32; this file only starts them.
#include "F_Config_win32.h"
#include "F_Main_win32.h"
#include "MainBehaviour.h"
#include "Texts.h"
#include "WebHost.h"
#include "WinSeams.h"

#include <ole2.h>

#include <string>

namespace {

// A preview for the tests and the screenshots of docs/: opens a window that otherwise only a
// card's request opens. `--preview F_Config [MAC text]` or `--preview F_Browser URL`.
struct Preview {
    std::wstring window;
    std::wstring argument;
};

Preview previewOf(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wstring(argv[1]) == L"--preview") {
        return {argv[2], argc >= 4 ? argv[3] : L""};
    }
    return {};
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand)
{
    text::setLanguage(text::languageFromWindows(GetUserDefaultUILanguage()));
    // The web view is an OLE control: the one user-interface thread is an apartment.
    if (FAILED(OleInitialize(nullptr))) {
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // Before any web view exists: the engine reads the mode when it starts.
    win32ui::WebHost::requestEdgeMode();

    int result = 1;
    {
        win32ui::F_Main main;
        const std::shared_ptr<LinkSession> session = winnet::cardSession();
        LinkSocket socket(session);
        LinkNeighbourTable neighbours(session);
        winnet::WinClock clock;
        behaviour::MainBehaviour behaviour(main, {socket, neighbours, clock, &queryOsVersion, {}});
        main.handlers = {
            [&behaviour] { behaviour.Form_Load(); },
            [&behaviour] { behaviour.Form_Unload(); },
            [&behaviour] { behaviour.Command1_Click(); },
            [&behaviour] { behaviour.Command2_Click(); },
            [&behaviour] { behaviour.Command3_Click(); },
            [&behaviour] { behaviour.Timer1_Timer(); },
        };
        if (main.create(showCommand)) {
            const Preview preview = previewOf(__argc, __wargv);
            if (preview.window == L"F_Config") {
                // As a card's request on an interface with the documentation address
                // 192.0.2.10 would open it.
                behaviour::PublicArea area;
                area.G_MacAddr = win32ui::utf8(preview.argument);
                area.G_LocalIp = {192, 0, 2, 10};
                win32ui::F_Config dialog(area);
                dialog.run(main.hwnd());
            } else if (preview.window == L"F_Browser") {
                main.openPage(win32ui::utf8(preview.argument));
            }
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                if (!win32ui::dialogMessage(msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
            }
            result = static_cast<int>(msg.wParam);
        }
    }
    OleUninitialize();
    return result;
}
