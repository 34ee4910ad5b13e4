// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <cstddef>

namespace fakegame {

// Plays a sine tone at 48 kHz into the sound server as Wine plays a game's sound: the client and its stream
// are named by the game's product name ("World of Warcraft"), and a pause corks the stream. With `beeps`
// the tone sounds only from each whole second of the system clock for (the second's number mod 4 + 1)
// tenths of a second, as it is heard (the server's latency counted), so that a recording shows where in
// time it put the sound. Plays nothing when no server takes it. The sound runs on a thread of its own.
class Tone {
public:
    Tone(double frequency, bool beeps);
    ~Tone();
    Tone(const Tone&) = delete;
    Tone& operator=(const Tone&) = delete;

    // Pauses the tone when it plays, and plays it again when it is paused.
    void togglePause();

private:
    static void onContextState(pa_context* context, void* data);
    static void onWritable(pa_stream* stream, std::size_t bytes, void* data);
    void write(std::size_t bytes);

    double frequency_;
    bool beeps_;
    double phase_ = 0.0;
    bool paused_ = false;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};

}  // namespace fakegame
