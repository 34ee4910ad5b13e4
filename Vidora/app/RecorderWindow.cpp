// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecorderWindow.h"

#include <QMenuBar>
#include <QNetworkRequest>
#include <QVBoxLayout>
#include <QWebEngineHttpRequest>
#include <QWebEngineView>

namespace vidora {

RecorderWindow::RecorderWindow(ContentView& view, MenuActions actions, const QString& webPage,
                               QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      actions_(std::move(actions)) {
    actions_.addMenus(*menuBar());
    auto* central = new QWidget(this);
    auto* stack = new QVBoxLayout(central);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    if (const QUrl address(webPage, QUrl::StrictMode); !webPage.isEmpty() && address.isValid()) {
        // Loaded so the site sees the launch, never shown.
        page_ = new QWebEngineView(central);
        page_->setFixedSize(0, 0);
        page_->hide();
        page_->load(QWebEngineHttpRequest(address));
        stack->addWidget(page_);
    }
    content_ = new ContentWidget(view, central);
    stack->addWidget(content_);
    setCentralWidget(central);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    setAttribute(Qt::WA_QuitOnClose);
}

}  // namespace vidora
