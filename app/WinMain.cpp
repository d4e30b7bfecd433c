// torvane.exe: the Win32 front-end. The windows are in ui/win32; this file only starts them.
#include "F_Config.h"
#include "F_Main.h"
#include "Texts.h"

#include <ole2.h>

#include <string>

namespace {

// A preview for the tests and the screenshots of docs/: opens a window that otherwise only a
// card's request opens. `--preview F_Config [MAC text]`, `--preview confirm [MAC text]` (the
// dialog asks its confirmation for sample addresses at once) or `--preview F_Browser URL`.
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

    int result = 1;
    {
        win32ui::F_Main main;
        if (main.create(showCommand)) {
            const Preview preview = previewOf(__argc, __wargv);
            if (preview.window == L"F_Config" || preview.window == L"confirm") {
                const bool confirm = preview.window == L"confirm";
                win32ui::F_Config dialog;
                dialog.handlers.Form_Load = [&dialog, &preview] {
                    dialog.setMacText(win32ui::utf8(preview.argument));
                };
                dialog.handlers.Form_Activate = [&dialog, confirm] {
                    if (confirm) {
                        const bool yes = dialog.confirm(
                            text::tr(text::Id::ConfirmTitle),
                            text::format(text::Id::ConfirmText,
                                         {"192.168.0.20", "255.255.255.0", "192.168.0.1"}));
                        dialog.closeDialog(yes);
                    }
                };
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
