// The GUI's side of the two-writer test: a view on STORE adds COUNT REG_DWORD values through its
// own "add REG_DW value" command, the number editor answered by script, 100 values per key under
// HKCU\KEY\K0, K1, ...; the value list is refilled after each command as in the running program.
// Prints the start and end times.
//   reliability_gui_writer STORE KEY COUNT
#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>

#include "editors/gui/number_edit_dlg.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"
#include "support/scripted_prompts.h"
#include "view/command_ids.h"
#include "view/tovik_view.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: reliability_gui_writer STORE KEY COUNT\n");
        return 2;
    }
    const tovik::StoreOpenResult opened = tovik::openRegistryStore(argv[1]);
    if (!opened.ok) {
        std::fprintf(stderr, "%s\n", opened.error.c_str());
        return 1;
    }
    const std::string keyPath = argv[2];
    const long count = std::stol(argv[3]);

    CTovikView view;
    auto owned = std::make_unique<ScriptedPrompts>();
    ScriptedPrompts* prompts = owned.get();
    view.setPrompts(std::move(owned));
    view.resize(240, 320);
    view.OnInitialUpdate();

    std::printf("start %.6f\n", reliability::Now());
    std::fflush(stdout);
    for (long i = 0; i < count; ++i) {
        if (i % 100 == 0) {
            const std::u16string path =
                std::u16string(keyPath.begin(), keyPath.end()) + u"\\K" + reliability::Ascii(std::to_string(i / 100));
            HKEY key = 0;
            DWORD disposition = 0;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition) !=
                ERROR_SUCCESS) {
                std::fprintf(stderr, "cannot create the key for value %ld\n", i);
                return 1;
            }
            RegCloseKey(key);
            // Written behind the view's back: going there reads the new key in.
            if (!view.goToKey(HKEY_CURRENT_USER, path)) {
                std::fprintf(stderr, "cannot go to the key for value %ld\n", i);
                return 1;
            }
        }
        prompts->dialogs.push_back([i](QDialog& dialog) {
            auto& editor = static_cast<CNumberEditDlg&>(dialog);
            editor.m_strName = QStringLiteral("g%1").arg(i);
            editor.m_nValue = static_cast<LONG>(i);
            return IDOK;
        });
        if (!view.OnCommand(ID_ADD_DWORD_VALUE) || !prompts->dialogs.empty()) {
            std::fprintf(stderr, "the add command did not run for value %ld\n", i);
            return 1;
        }
        QCoreApplication::processEvents();  // the posted refill of the value list
    }
    std::printf("end %.6f\n", reliability::Now());
    tovik::closeRegistryStore();
    return 0;
}
