// SPDX-License-Identifier: GPL-3.0-or-later
// kdx_save_driver TARGET: a freshly started editor saves its sequence with
// Sequence > Save, TARGET chosen in the save dialog. The error box's text,
// if one was shown, goes to standard error and the exit status is 1;
// otherwise 0. Lets scripts/faults drive a save on a full disk through the
// same core the window uses (the command-line tool has no save).

#include <cstdio>
#include <string>
#include <vector>

#include "FakeView.h"
#include "RecordingNotifier.h"
#include "editor/EditorCore.h"
#include "link/TickSource.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kdx_save_driver TARGET\n");
        return 2;
    }
    FakeView view;
    RecordingNotifier notifier;
    EditorCore core(view, notifier, systemTickSource(), [] { return std::vector<std::string>{}; });
    core.FormCreate();
    view.saveAnswers.push_back(std::string(argv[1]));
    core.Save1Click();
    core.FormClose();
    for (const auto& text : view.errors) std::fprintf(stderr, "%s\n", text.c_str());
    return view.errors.empty() ? 0 : 1;
}
