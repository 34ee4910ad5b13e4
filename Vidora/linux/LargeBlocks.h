// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vidora {

// Has the C library give every large block (frames, the encoder's pictures) a mapping of its own that
// is returned to the system when freed. By default glibc raises that threshold to the size of the first
// such block freed; each recording's blocks then come from the arenas of threads that end with the
// recording, and those arenas keep the pages, so the program grew from match to match. Call once at the
// start of main(), before other threads start.
void mapLargeBlocksOnTheirOwn();

}  // namespace vidora
