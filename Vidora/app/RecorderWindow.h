// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

#include "ContentWidget.h"
#include "MenuActions.h"

class QWebEngineView;

namespace vidora {

// The recorder's one window: the Download and Help menus, the hidden page view and the content row.
// Fixed size; it cannot be resized, maximised or minimised. Main thread only.
class RecorderWindow final : public QMainWindow {
public:
    // `webPage` empty: no page view (the version page is only ever loaded, never shown).
    RecorderWindow(ContentView& view, MenuActions actions, const QString& webPage, QWidget* parent = nullptr);

    ContentWidget& content() { return *content_; }
    const MenuActions& actions() const { return actions_; }

private:
    MenuActions actions_;
    ContentWidget* content_;
    QWebEngineView* page_ = nullptr;
};

}  // namespace vidora
