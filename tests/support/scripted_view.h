#pragma once
// A view as the widget tests start it: its start-up size, scripted prompts, shown and filled.
#include <memory>

#include "view/tovik_doc.h"
#include "view/tovik_view.h"

namespace testing_support {

// prompts is left pointing at the view's prompts (the view owns them).
template <class Prompts>
std::unique_ptr<CTovikView> startScriptedView(CTovikDoc& doc, Prompts*& prompts) {
    auto view = std::make_unique<CTovikView>();
    auto scripted = std::make_unique<Prompts>();
    prompts = scripted.get();
    view->SetPrompts(std::move(scripted));
    view->SetDocument(&doc);
    view->resize(240, 294);
    view->show();
    view->OnInitialUpdate();
    return view;
}

}  // namespace testing_support
