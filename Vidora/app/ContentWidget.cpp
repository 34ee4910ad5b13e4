// SPDX-License-Identifier: GPL-3.0-or-later
#include "ContentWidget.h"

#include <QDir>
#include <QHBoxLayout>
#include <QIcon>

namespace vidora {

ContentWidget::ContentWidget(ContentView& view, QWidget* parent)
    : QWidget(parent),
      view_(view),
      record_(new FaceButton(this)),
      microphone_(new FaceButton(this)),
      display_(new FaceButton(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(5, 5, 5, 5);
    row->setSpacing(5);
    row->addStretch();
    row->addWidget(record_);
    row->addWidget(microphone_);
    row->addWidget(display_);
    row->addStretch();
    setFixedSize(width, FaceButton::side + 10);
    record_->setShortcut(Qt::Key_R);
    microphone_->setShortcut(Qt::Key_M);
    display_->setPurpose(QStringLiteral("Choose what to record"));

    connect(record_, &QAbstractButton::clicked, this,
            [this] { view_.onRecordButton(!view_.isRecording(), std::nullopt); });
    connect(microphone_, &QAbstractButton::clicked, this, [this] { view_.onMicrophoneButton(); });
    connect(display_, &QAbstractButton::clicked, this, [this] { view_.onDisplayButton(); });
    render();
}

QImage ContentWidget::picture(const Icon& icon) {
    if (icon.width <= 0 || icon.height <= 0 ||
        icon.argb.size() != static_cast<std::size_t>(icon.width) * static_cast<std::size_t>(icon.height)) {
        return {};
    }
    return QImage(reinterpret_cast<const uchar*>(icon.argb.data()), icon.width, icon.height, icon.width * 4,
                  QImage::Format_ARGB32)
        .copy();
}

ButtonFace ContentWidget::displayFace(const DisplayItem& item, bool recording, const QString& pageText) {
    ButtonFace face;
    face.corner = pageText;
    if (!item.isApplication()) {
        face.symbol = QStringLiteral("display");
        return face;
    }
    face.caption = QString::fromStdString(item.name);
    face.pictureOpacity = recording ? 0.6 : 0.8;
    if (item.icon) {
        face.picture = picture(*item.icon);
        if (face.picture.isNull() && !item.icon->themeName.empty()) {
            // A desktop entry's Icon: a name in the icon theme, or an icon file's path.
            const QString name = QString::fromStdString(item.icon->themeName);
            face.picture =
                (QDir::isAbsolutePath(name) ? QIcon(name) : QIcon::fromTheme(name)).pixmap(90).toImage();
        }
        if (face.picture.isNull()) {
            const QString symbol = QString::fromStdString(item.icon->symbolName);
            face.picture = symbolImage(symbol.isEmpty() ? QStringLiteral("app") : symbol, 90);
        }
    }
    return face;
}

void ContentWidget::render() {
    const bool recording = view_.isRecording();
    ButtonFace recordFace;
    recordFace.symbol = recording ? QStringLiteral("stop") : QStringLiteral("record.circle");
    if (recording) {
        recordFace.caption = QString::fromStdString(view_.recordingTime());
    }
    record_->setFace(recordFace);
    record_->setPurpose(recording ? QStringLiteral("Stop recording") : QStringLiteral("Start recording"));
    record_->setEnabled(view_.recordEnable());

    ButtonFace microphoneFace;
    microphoneFace.symbol = view_.micEnable() ? QStringLiteral("mic.fill") : QStringLiteral("mic.slash");
    microphone_->setFace(microphoneFace);
    microphone_->setPurpose(view_.micEnable() ? QStringLiteral("Microphone on")
                                              : QStringLiteral("Microphone off"));
    microphone_->setEnabled(view_.recordEnable());

    const auto index = view_.index();
    const auto& displays = view_.displays();
    display_->setVisible(index >= 0 && index < static_cast<std::int64_t>(displays.size()));
    if (display_->isVisibleTo(this)) {
        const auto& item = displays[static_cast<std::size_t>(index)];
        ButtonFace face = displayFace(item, recording, QString::fromStdString(view_.pageText()));
        if (!item.isApplication()) {
            face.lines = {QString::number(index + 1), QString::fromStdString(item.detail),
                          QString::fromStdString(item.name)};
        }
        display_->setFace(face);
        display_->setEnabled(!recording && view_.recordEnable());
    }
}

}  // namespace vidora
