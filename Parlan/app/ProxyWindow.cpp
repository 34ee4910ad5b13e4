// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProxyWindow.h"

#include <QVBoxLayout>

#include "proxy/ProxyService.h"

namespace parlan {

ProxyWindow::ProxyWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      status_(new QLabel(QString::fromUtf8(ProxyService::startingText.data(),
                                           static_cast<qsizetype>(ProxyService::startingText.size())),
                         this)) {
    setWindowTitle(QStringLiteral("Parlan"));
    setObjectName(QStringLiteral("Default"));
    setFixedSize(300, 100);
    status_->setAlignment(Qt::AlignCenter);
    status_->setWordWrap(true);  // the longest status does not fit one line of the fixed width
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
}

}  // namespace parlan
