// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <memory>
#include <optional>
#include <string>

namespace tavrin {

// The recorder's lasting settings: QSettings in INI form, organisation "Tavrinworks", application
// "Vidora", so $XDG_CONFIG_HOME/Tavrinworks/Vidora.conf. The proxy reads the movies folder from it too, so
// both programs use one folder. Each call opens the file anew and sees what the other program saved; any
// thread.
std::unique_ptr<QSettings> recorderSettings();

// The movies folder: where the movies, the subtitles and (in ".logs") the command files and match logs go.
inline constexpr char moviesFolderKey[] = "storage/folder";

// The movies folder the player chose, an absolute path; nothing for the default.
std::optional<std::string> chosenMoviesFolder();

}  // namespace tavrin
