// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QWidget>

namespace parlan {

// The proxy's one window: a fixed 300 x 100 status line, no zoom, no minimise button, no menus.
class ProxyWindow final : public QWidget {
    Q_OBJECT

public:
    explicit ProxyWindow(QWidget* parent = nullptr);

    QString status() const { return status_->text(); }
    void showStatus(const QString& text) { status_->setText(text); }

private:
    QLabel* status_;
};

}  // namespace parlan
