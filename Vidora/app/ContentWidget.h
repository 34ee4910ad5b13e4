// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "FaceButton.h"
#include "control/ContentView.h"

namespace vidora {

// The window's content: the record, microphone and display buttons in a row, drawn from the
// controller's state and bound to its operations. Main thread only.
class ContentWidget final : public QWidget {
public:
    static constexpr int width = 430;

    explicit ContentWidget(ContentView& view, QWidget* parent = nullptr);

    // Redraws the buttons from the controller's state.
    void render();

    FaceButton& recordButton() { return *record_; }
    FaceButton& microphoneButton() { return *microphone_; }
    FaceButton& displayButton() { return *display_; }

    static ButtonFace displayFace(const DisplayItem& item, bool recording, const QString& pageText);
    static QImage picture(const Icon& icon);

private:
    ContentView& view_;
    FaceButton* record_;
    FaceButton* microphone_;
    FaceButton* display_;
};

}  // namespace vidora
