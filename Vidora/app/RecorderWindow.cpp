// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecorderWindow.h"

#include <QLayout>
#include <QMenuBar>

namespace vidora {

RecorderWindow::RecorderWindow(ContentView& view, MenuActions actions, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      actions_(std::move(actions)) {
    actions_.addMenus(*menuBar());
    content_ = new ContentWidget(view, this);
    setCentralWidget(content_);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    setAttribute(Qt::WA_QuitOnClose);
}

}  // namespace vidora
