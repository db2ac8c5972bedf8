// Plays a wave file without waiting for it: through the first sound player
// found on the system (PipeWire, PulseAudio, ALSA). Without a player or a
// sound device nothing happens, and nothing fails.
#pragma once

#include <string>

namespace qc {

// True when a player was started for an existing file.
bool PlayWaveAsync(const std::string& fileName);

}  // namespace qc
