#include "decoder/Player.h"

#include <ostream>

#include "audio/Waveio.h"
#include "decoder/Decoder.h"

namespace ostrel {

int PlayFile(const std::string& in, const PlayOptions& options, std::ostream& log) {
  Waveio pcm(0, options.soundCard);
  if (!pcm.DeviceOpened()) {
    log << "ostreldec: cannot play " << in << ": " << pcm.DeviceError() << "\n";
    return DECODE_WRITE_FAILED;
  }
  if (options.volume >= 0) pcm.Set_Volume(options.volume);

  bool stopped = false;
  DecodeOptions decode;
  decode.join = options.join;
  decode.applyGain = options.applyGain;
  decode.onFrame = [&](uint32_t, const ostrel_frame_report&) {
    // A device that no longer takes samples would cost a full timeout for every one of them.
    if (pcm.Error() == WAVE_ERROR_DEVICE) return false;
    if (options.stopWanted && options.stopWanted()) {
      stopped = true;
      return false;
    }
    return true;
  };
  const int status = DecodeToPcm(in, pcm, decode, log);
  const bool deviceFailed = pcm.Error() == WAVE_ERROR_DEVICE;
  if (stopped || deviceFailed) pcm.Stop();
  pcm.CloseWave();
  if (deviceFailed) {
    log << "ostreldec: the sound device stopped taking samples; playback ended\n";
    return DECODE_WRITE_FAILED;
  }
  return status;
}

}  // namespace ostrel
