// The devices behind WaveOutDevice::Open; used only by the wave-output layer itself.
#pragma once

#include <memory>
#include <string>

#include "platform/WaveOut.h"

namespace ostrel {

// Open the null device / an ALSA device `name` for a format already checked by Open. Same
// results and reasons as WaveOutDevice::Open.
int OpenNullWaveOut(std::unique_ptr<WaveOutDevice>* device, const WaveOutChoice& choice, const PcmWaveFormat& format,
                    WaveOutCallback callback, uintptr_t instance, std::string* reason);
#if defined(OSTREL_HAVE_ALSA)
int OpenAlsaWaveOut(std::unique_ptr<WaveOutDevice>* device, const std::string& name, const PcmWaveFormat& format,
                    WaveOutCallback callback, uintptr_t instance, std::string* reason);
#endif
#if defined(OSTREL_HAVE_WINMM)
// Windows' wave-output device `name`: "default" (the wave mapper) or a device number.
int OpenWinmmWaveOut(std::unique_ptr<WaveOutDevice>* device, const std::string& name, const PcmWaveFormat& format,
                     WaveOutCallback callback, uintptr_t instance, std::string* reason);
#endif

}  // namespace ostrel
