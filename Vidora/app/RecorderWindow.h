// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

#include "ContentWidget.h"
#include "MenuActions.h"

namespace vidora {

// The recorder's one window: the Download and Help menus and the content row.
// Fixed size; it cannot be resized, maximised or minimised. Main thread only.
class RecorderWindow final : public QMainWindow {
public:
    RecorderWindow(ContentView& view, MenuActions actions, QWidget* parent = nullptr);

    ContentWidget& content() { return *content_; }
    const MenuActions& actions() const { return actions_; }

private:
    MenuActions actions_;
    ContentWidget* content_;
};

}  // namespace vidora
