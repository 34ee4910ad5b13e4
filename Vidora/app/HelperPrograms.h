// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace vidora {

// A program installed with the recorder under libexec/vidora/ (beside the recorder in the build tree);
// empty when it is not there.
QString helperProgram(const QString& name);

// Starts the Matches window's program with `arguments` (none for the list, "--play FILE" for the
// player), on its own: it outlives the recorder and costs the recorder nothing. False when it is
// missing or cannot be started.
bool startMatches(const QStringList& arguments = {});

}  // namespace vidora
