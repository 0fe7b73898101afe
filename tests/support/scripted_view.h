#pragma once
// A view as the widget tests start it: its start-up size, scripted prompts, shown and filled.
#include <memory>

#include "view/tovik_doc.h"
#include "view/tovik_view.h"

namespace testing_support {

// A view with these prompts, or with its own (the real dialogs) when prompts is null.
inline std::unique_ptr<CTovikView> startView(CTovikDoc& doc, std::unique_ptr<ViewPrompts> prompts) {
    auto view = std::make_unique<CTovikView>();
    if (prompts) view->setPrompts(std::move(prompts));
    view->setDocument(&doc);
    view->resize(240, 294);
    view->show();
    view->OnInitialUpdate();
    return view;
}

// prompts is left pointing at the view's prompts (the view owns them).
template <class Prompts>
std::unique_ptr<CTovikView> startScriptedView(CTovikDoc& doc, Prompts*& prompts) {
    auto scripted = std::make_unique<Prompts>();
    prompts = scripted.get();
    return startView(doc, std::move(scripted));
}

}  // namespace testing_support
