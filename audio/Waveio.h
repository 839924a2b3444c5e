// 16-bit PCM audio between the coder's sample arrays and RIFF/WAVE files (read and write modes)
// or the sound card (sound-card mode).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/SampleSink.h"
#include "audio/SampleSource.h"
#include "audio/roundfs.h"

namespace ostrel {

class MCI_Buffer;         // the sound-card output buffer (sound-card mode)
struct SoundCardSettings;  // which device plays, and how (audio/MCI_Buffer.h)

// Modes of a Waveio object, fixed at construction.
constexpr int WAVE_READ = 0;
constexpr int WAVE_WRITE = 1;
constexpr int WAVE_SOUNDCARD = 3;
constexpr int WAVE_PULL = 4;  // read mode whose samples come from a caller's function, not a file

// Stores up to `frames` stereo sample frames (floats on the 16-bit scale) and returns how many;
// fewer only at the end of the samples. The source of a pull-mode Waveio.
using WavePull = std::function<size_t(float* right, float* left, size_t frames)>;

// Values of Waveio::error. The first error that happens is kept.
constexpr int WAVE_ERROR_MODE = 1;    // unsupported mode for the operation
constexpr int WAVE_ERROR_OPEN = 2;    // the file could not be opened
constexpr int WAVE_ERROR_DEVICE = 3;  // the sound-card buffer refused a sample
constexpr int WAVE_ERROR_FORMAT = 4;  // read mode: not a RIFF/WAVE file of 16-bit PCM in 1 or 2 channels
constexpr int WAVE_ERROR_WRITE = 5;   // write mode: the file did not take every byte

// Format codes of the fmt chunk.
constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;  // accepted when its sub-format is PCM

constexpr uint32_t WAVE_HEADER_BYTES = 44;   // the canonical header the writer produces
constexpr uint32_t WAVE_FMT_PCM_BYTES = 16;  // size of a plain PCM fmt chunk body

// The text tags of a source's RIFF LIST/INFO chunk that the encoder can carry (read mode); empty
// when the file has none. The stored terminators are dropped.
struct WaveTags {
  std::string INAM;  // name (title)
  std::string IART;  // artist
  std::string ICMT;  // comment
};

// The header record. Tags are 4 characters plus a terminator.
struct WaveHeader {
  char RiffID[5];          // "RIFF"
  uint32_t RiffLen;        // RIFF chunk size: file size minus 8 (as stored)
  char FileTypeName[5];    // "WAVE"
  char Format[5];          // "fmt " once the format chunk was found
  uint32_t Fmt;            // format chunk size in bytes (16 for plain PCM)
  uint16_t Code;           // format code: 1 PCM, 0xFFFE extensible
  uint16_t nChan;          // channels
  uint32_t sRate;          // samples per second
  uint32_t BytePerSec;     // bytes per second as stored
  uint16_t Blocks;         // bytes per sample frame as stored
  uint16_t BitsPerSample;  // bits per sample
  char DataName[5];        // "data" once the data chunk was found
  uint32_t nSamples;       // data chunk size in bytes; in read mode the bytes really there (see Waveio)
};

// One object moves samples in one mode. In both IO forms `right` carries the first sample of each
// stored pair and `left` the second; a mono file uses `right` only. Float samples are on the 16-bit
// scale (no normalisation).
class Waveio : public SampleSource, public SampleSink {
 public:
  // File modes. `intype` 0 reads `filename`, 1 writes it (created or truncated); any other value
  // sets `error` = 1. `inSumDiff` nonzero converts stereo pairs to and from half sum and half
  // difference in the float IO.
  //
  // Read mode walks the RIFF chunks: "fmt " and "data" are found wherever they stand, every other
  // chunk is skipped (with the pad byte after an odd size), and reading stops at the end of the
  // data chunk. A data size that cannot be right (0xFFFFFFFF, more than the file holds, or 0 while
  // the RIFF size was never patched and samples follow) means "to the end of the file"; `nSamples`
  // then holds the bytes really there. A file that is not 16-bit PCM in one or two channels
  // (format 1, or 0xFFFE with a PCM sub-format) sets `error` = 4 and is never read as audio: the
  // record keeps what was found, the file is closed, and IO yields silence with the result 1.
  //
  // LIST chunks of form INFO met on the way are read for their INAM, IART and ICMT entries
  // (`tags`); in a file that can seek, also one that follows the data chunk.
  //
  // Write mode writes a canonical 44-byte header (2 channels, 44100 Hz, 16 bits, zero lengths)
  // that CloseWave patches. On an output that cannot seek back (a pipe, a socket, a terminal) the
  // header carries the lengths 0xFFFFFFFF from the start instead, which readers take as "up to
  // the end of the stream", since it can never be patched.
  Waveio(const char* filename, int intype);
  Waveio(const char* filename, int intype, int inSumDiff);

  // The same on a stream already open (standard input or output, for instance), which the object
  // now owns and closes. A null `stream` sets `error` = 2.
  Waveio(std::FILE* stream, int intype);

  // Pull mode: a stereo reader whose float IO takes its samples from `pull` (a source converted
  // on the way), with the read mode's contract: missing samples are 0 and the result is 1 once
  // `pull` delivered fewer than asked for. The integer IO is not available (`error` = 1).
  explicit Waveio(WavePull pull);

  // Sound-card mode: always stereo, 44100 Hz, with an MCI_Buffer on the system's default sound
  // output, or on the device `settings` choose. No header record is used. Whether the device
  // opened shows in buffer->opened (and why not in buffer->device_error).
  Waveio();
  explicit Waveio(int inSumDiff);
  Waveio(int inSumDiff, const SoundCardSettings& settings);

  // Closes a file still open; does not patch a written header (CloseWave does). Sound-card mode:
  // as CloseWave.
  ~Waveio();

  Waveio(const Waveio&) = delete;
  Waveio& operator=(const Waveio&) = delete;

  // Moves `size` sample frames. Read mode: returns 1 when a read ran into the end of the data
  // (missing samples are 0, and every later call fills zeros and returns 1), else 0. The end is
  // noticed only by a read past the last sample: a call that ends exactly on it returns 0.
  // Write mode: writes `right[n]`, then `left[n]` (always stereo); returns 0.
  // Sound-card mode: appends `right[n]`, then `left[n]` to the buffer; both are always appended,
  // and when the buffer refuses one (see MCI_Buffer::Append) `error` = 3. Returns 0.
  int IO(short* right, short* left, int size);

  // As above with float samples. Read mode with SumDiff on a stereo file: right = (a + b) / 2,
  // left = (a - b) / 2, exact. Write mode with SumDiff: for each pair, with w = the integer part
  // of right[n] (toward zero), right[n] becomes right[n] + left[n] and left[n] becomes w - left[n]
  // in the caller's arrays (they are overwritten), then both are written through roundfs. Without
  // SumDiff both are written through roundfs and left unchanged. Sound-card mode: the pair formed
  // as for writing is appended as by the integer IO.
  int IO(float* right, float* left, int size);

  // Write and sound-card modes: `frames` stereo pairs of 16-bit samples, interleaved (first,
  // second, first, ...), as the integer IO takes them in two arrays (no sum/difference). Other
  // modes: `error` = 1. Returns 0.
  int WriteInterleaved(const int16_t* pcm, int frames);

  // The float IO as the encoder's sample source (read mode).
  int Read(float* right, float* left, int size) override { return IO(right, left, size); }
  uint64_t FramesRead() const override {
    return StereoFile ? (read_ + 3u) / 4u : (read_ + 1u) / 2u;  // bytes of a stereo or mono 16-bit frame
  }
  // The float IO as the decoder's sample sink (write and sound-card modes).
  int Write(float* right, float* left, int size) override { return IO(right, left, size); }

  // Sound-card mode only (elsewhere `error` = 1): the buffer's Set_Volume (low 16 bits, both
  // channels), Clear_Buffer (playback stops, what is queued is discarded, the next samples prime
  // it anew) and Stop (CloseWave then discards instead of playing out).
  void Set_Volume(int volume);
  void Pause();
  void Stop();

  // Write mode, before the first samples: the file is an RF64 file (a "ds64" chunk with 64-bit
  // sizes after "RF64" and "WAVE", the 32-bit sizes 0xFFFFFFFF; 80 header bytes), for outputs
  // of 4 GiB and more, which a RIFF header cannot describe. Nothing changes on a stream that
  // cannot seek back (its sizes stay unknown). Returns false after the samples have started.
  bool UseRf64();

  // Read mode: closes the file. Write mode: rewrites the header with the lengths of the `count`
  // frames written (a stream that cannot seek, such as a pipe, keeps the zero lengths of the
  // first header), flushes and closes the file. Later IO calls move nothing (read mode: silence
  // and 1). Sound-card mode: plays out what was appended and waits for it (after Stop: discards it
  // at once), closes the device and releases the buffer; later IO sets `error` = 3. Other modes:
  // `error` = 1.
  void CloseWave();

  // Write mode: text tags (four-character RIFF INFO ids such as "INAM", "IART", "IPRD", and their
  // values) that CloseWave writes in a LIST/INFO chunk after the samples, where every reader that
  // stops at the data chunk's end passes over them. Left out where the file cannot seek back
  // (its lengths then say "to the end of the stream") and from an RF64 file.
  void SetInfoTags(std::vector<std::pair<std::string, std::string>> entries) { infoTags_ = std::move(entries); }

  // Facts about the stream; in write mode those of the written header.
  uint32_t infosrate() const { return wave ? wave->sRate : 0; }
  // Whole sample frames in the data (read mode) or written so far (write mode).
  uint32_t infosamples() const;
  int inforesolution() const { return wave ? wave->BitsPerSample : 0; }
  int infochannels() const { return wave ? wave->nChan : 0; }

  // Read and pull modes: the sample bytes the header promised (its data size when that is a real size,
  // otherwise the bytes found to be there; 0 for a stream, such as a pipe, whose header states no
  // size), and the sample bytes IO has read so far. Fewer read
  // than promised once IO has reported the end means the file ended early (it was cut, or shrank
  // while it was read).
  uint64_t promisedBytes() const { return promised_; }
  uint64_t bytesRead() const { return read_; }
  // Read and pull modes: IO has run past the last sample (CloseWave alone does not count).
  bool ranOut() const { return ranOut_; }
  // Read access for other modules to the state below, which stays public for the tests.
  int Error() const { return error; }                  // 0, or the first WAVE_ERROR_*
  const WaveHeader* Header() const { return wave.get(); }  // nullptr in sound-card mode
  std::FILE* File() const { return fptr; }             // file modes, until closed
  // Sound-card mode: whether the device opened, and why not (an empty string when it did).
  bool DeviceOpened() const;
  std::string DeviceError() const;

  std::FILE* fptr = nullptr;     // the WAV file (file modes); empty once closed or when it failed to open
  std::unique_ptr<MCI_Buffer> buffer;  // sound-card output buffer (sound-card mode only)
  uint32_t count = 0;            // sample frames written so far (write mode)
  int type = 0;                  // WAVE_READ, WAVE_WRITE or WAVE_SOUNDCARD
  int error = 0;                 // 0, or the first WAVE_ERROR_* that happened
  int StereoFile = 0;            // the file holds two channels (write mode: always 1)
  int StereoIO = 0;              // the caller exchanges two channels (set like StereoFile)
  int SumDiff = 0;               // sum/difference conversion in the float IO
  std::unique_ptr<WaveHeader> wave;  // the header record (file modes)
  WaveTags tags;                 // read mode: the source's LIST/INFO text
  std::vector<std::pair<std::string, std::string>> infoTags_;  // write mode: SetInfoTags

 private:
  void Start(std::FILE* stream);
  void OpenForReading();
  void OpenForWriting();
  bool ReadChunks();
  // Reads the INFO entries of a LIST chunk of `size` bytes whose header was just read; leaves
  // the position after the chunk body (`size` bytes on). False when the file ends inside it.
  bool ReadListChunk(uint32_t size);
  void WriteHeader();
  // Read mode: fills `bytes` sample bytes into `io_bytes` as far as the data goes; returns how many.
  size_t ReadBytes(size_t bytes);
  void WriteBytes(size_t bytes);
  // The two 16-bit output samples of one float pair, with the optional sum/difference step applied
  // to the caller's values first (shared by every output mode).
  void OutputPair(float& right, float& left, short* first, short* second) const;
  // The sum/difference step on one pair: with w = the integer part of right, right + left and
  // w - left.
  static void SumAndDifference(float& right, float& left);
  // Sound-card mode: appends one output pair to the buffer.
  void AppendPair(short first, short second);
  void SetError(int code) {
    if (error == 0) error = code;
  }

  bool sizesUnknown_ = false;  // write mode: the output cannot seek back; lengths 0xFFFFFFFF
  bool rf64_ = false;          // write mode: the header is RF64's
  uint64_t written_ = 0;       // write mode: sample frames written, without `count`'s 32-bit limit
  // Write mode: writes `frames` interleaved stereo pairs (io_bytes holds room for them) and counts
  // them.
  void WritePcm(const int16_t* pcm, size_t frames);
  // Write mode: the RF64 header for `frames` sample frames of data.
  void WriteRf64Header(uint64_t frames);
  uint64_t dataLeft_ = 0;   // read mode: sample bytes still to come in the data chunk
  uint64_t promised_ = 0;   // read mode: sample bytes the header promised
  uint64_t read_ = 0;       // read mode: sample bytes read so far
  WavePull pull_;           // pull mode: where the samples come from
  bool atEnd_ = false;      // read mode: a read ran past the last sample, or the file is closed
  bool ranOut_ = false;     // read and pull modes: a read ran past the last sample
  std::vector<unsigned char> io_bytes;  // file bytes of one IO call; grows to the largest call
  std::vector<int16_t> io_pcm;          // write mode: the samples of one IO call, interleaved
};

}  // namespace ostrel
