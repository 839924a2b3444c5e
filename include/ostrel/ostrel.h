/* libostrel: encoding and decoding of Ostrel compressed audio (44 100 Hz stereo, 96 to 392 kb/s).
 *
 * One header, C linkage, usable from C and C++. Every name starts with ostrel_ or OSTREL_.
 *
 * The library never prints, never exits and installs no signal handlers: every failure is a
 * status code. Running out of memory is OSTREL_ERR_MEMORY from whichever call met it; an encoder
 * or decoder stopped by it in the middle of a frame returns it from every later call too, having
 * handed over nothing of that frame. Objects are opaque handles made by a _create function and released by the
 * matching _destroy. Different handles may be used from different threads at the same time; one
 * handle must not be used by two threads at once.
 *
 * Samples are 16-bit (or float) stereo at 44 100 Hz, interleaved: left, right, left, right...
 * A "sample frame" (argument `frames`) is one sample of each channel.
 *
 * Encoding:  ostrel_encoder_create, ostrel_encoder_set_tag, ostrel_encoder_set_quality,
 *            ostrel_encoder_set_threads and ostrel_encoder_set_frame_callback (optional),
 *            ostrel_encoder_write or
 *            ostrel_encoder_write_float (any number of times, any chunk size),
 *            ostrel_encoder_finish, ostrel_encoder_destroy.
 * Decoding:  ostrel_decoder_create or ostrel_decoder_open (reads the header, or with OSTREL_JOIN
 *            finds the first frame of a stream joined in the middle), ostrel_decoder_info,
 *            ostrel_decoder_read or ostrel_decoder_read_float until it returns 0 (with
 *            ostrel_decoder_seek and ostrel_decoder_tell for a seekable input, and
 *            ostrel_decoder_frame_report after each frame), ostrel_decoder_destroy.
 * Frames:    for containers and players that split the stream themselves (every frame has the
 *            same size in bytes): ostrel_parse_header, ostrel_frame_decoder_create,
 *            ostrel_frame_decoder_decode, ostrel_frame_decoder_reset, ostrel_frame_decoder_destroy.
 */
#ifndef OSTREL_OSTREL_H
#define OSTREL_OSTREL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define OSTREL_WARN_UNUSED_RESULT __attribute__((warn_unused_result))
#define OSTREL_EXPORT __attribute__((visibility("default")))
#else
#define OSTREL_WARN_UNUSED_RESULT
#define OSTREL_EXPORT
#endif

/* ---- Status codes -------------------------------------------------------------------------- */

#define OSTREL_OK 0                 /* success */
#define OSTREL_ERR_ARGUMENT (-1)    /* an argument is out of its range, or a required pointer is NULL */
#define OSTREL_ERR_BITRATE (-2)     /* not one of 96, 112, 128, 160, 192, 256, 392 kb/s */
#define OSTREL_ERR_TAG (-3)         /* unknown tag key, or a value too long for its field */
#define OSTREL_ERR_STATE (-4)       /* the call is not allowed now (e.g. a tag after the first samples,
                                       samples after finish) */
#define OSTREL_ERR_WRITE (-5)       /* the write callback failed; the stream is incomplete */
#define OSTREL_ERR_SEEK (-6)        /* the seek callback failed; the frame count stays 0 */
#define OSTREL_ERR_NOT_OSTREL (-7)  /* wrong magic or version: not an Ostrel stream */
#define OSTREL_ERR_TRUNCATED (-8)   /* the header is cut short */
#define OSTREL_ERR_UNSUPPORTED (-9) /* an Ostrel stream this library cannot decode (unknown rate code,
                                       a sample rate other than 44100 Hz, not stereo) */
#define OSTREL_ERR_DAMAGED (-10)    /* a damaged frame (decoded as silence) */
#define OSTREL_ERR_MEMORY (-11)     /* out of memory */
#define OSTREL_ERR_INTERNAL (-12)   /* a frame could not be coded within its budget, or another
                                       internal failure; the stream is incomplete */
#define OSTREL_ERR_READ (-13)       /* the input callback reported an error; what was decoded before
                                       it stands */
#define OSTREL_ERR_FRAME_VALUE (-14) /* a frame held a value its field cannot carry; the stream is
                                       damaged from that frame on */
#define OSTREL_ERR_STOPPED (-15)    /* the frame callback asked the encoder to stop */

/* A short English description of `status` ("success", "not an Ostrel stream", ...). Never NULL;
 * an unknown code gives "unknown status". The string is static. */
OSTREL_EXPORT const char *ostrel_strerror(int status);

/* The library's version, "MAJOR.MINOR.PATCH", the project's version. Static string. */
OSTREL_EXPORT const char *ostrel_version(void);

/* ---- I/O callbacks ------------------------------------------------------------------------- */

/* Takes `bytes` bytes at `data` (borrowed for the call). Returns 0 when all were written,
 * nonzero on failure (the library then stops writing and reports OSTREL_ERR_WRITE). */
typedef int (*ostrel_write_fn)(void *user, const void *data, size_t bytes);

/* Moves the output position to `offset` bytes from the start of the stream, so that the next
 * write lands there (for a decoder: the input position, so that the next read starts there).
 * Returns 0 when done, nonzero when the output (input) cannot seek. */
typedef int (*ostrel_seek_fn)(void *user, uint64_t offset);

/* Fills up to `bytes` bytes at `data`. Returns how many were stored; 0 means the end of the
 * stream (or a read error). May return fewer than asked for before the end. */
typedef size_t (*ostrel_read_fn)(void *user, void *data, size_t bytes);

/* As ostrel_read_fn, but an error is told from the end: returns how many bytes were stored (> 0,
 * at most `bytes`), 0 at the end of the stream, or a negative value when the input failed (the
 * decoder then reports OSTREL_ERR_READ). May return fewer than asked for before the end. */
typedef long (*ostrel_input_fn)(void *user, void *data, size_t bytes);

/* ---- Stream facts -------------------------------------------------------------------------- */

/* Samples per channel a decoder outputs for `frames` whole frames at `kbps`: frames x samples per
 * frame minus the decoder's delay, 0 for 0 frames; or OSTREL_ERR_BITRATE. The duration of a stream
 * is this over 44100 Hz (the `samples` of ostrel_info). */
OSTREL_EXPORT int64_t ostrel_stream_samples(int kbps, uint32_t frames);

/* The data rates an encoder takes, in kb/s, ascending; `*count` receives 7. Static array. */
OSTREL_EXPORT const int *ostrel_bitrates(int *count);

/* Samples per channel in every frame at `kbps` (8192 or 16384), or OSTREL_ERR_BITRATE. */
OSTREL_EXPORT long ostrel_samples_per_frame(int kbps);

/* Bytes in every frame at `kbps`, or OSTREL_ERR_BITRATE. */
OSTREL_EXPORT long ostrel_frame_bytes(int kbps);

/* Samples per channel by which the synthesis at `kbps` lags the source (the `delay` of
 * ostrel_info: 256, 512 or 1024), or OSTREL_ERR_BITRATE. With ostrel_samples_per_frame and
 * ostrel_frame_bytes it gives a frame-level user the whole frame geometry without a header. */
OSTREL_EXPORT long ostrel_frame_decoder_delay(int kbps);

/* The layout of every frame at a data rate, as the rate tables fix it. */
typedef struct {
  int long_block;          /* long transform length in samples: 512, 1024 or 2048 */
  int short_block;         /* short transform length: long_block / 4 */
  int transition_block;    /* the transition block's model length: long_block / 2 + long_block / 8 */
  int blocks;              /* long blocks per frame: 16 or 32 */
  int samples_per_frame;   /* blocks x long_block / 2 */
  uint32_t frame_bits;     /* bits in every frame */
  float model_resolution;  /* band width of the encoder's psychoacoustic models, in Bark */
  float model_offset;      /* their level offset, in dB */
} ostrel_frame_layout;

/* Fills `*layout` for `kbps`. Returns OSTREL_OK, OSTREL_ERR_BITRATE or OSTREL_ERR_ARGUMENT (NULL). */
OSTREL_EXPORT int ostrel_frame_layout_of(int kbps, ostrel_frame_layout *layout);

/* What a stream's header says. The strings are owned by the object they were read from (the
 * decoder, or the caller's buffer for ostrel_parse_header: see there) and are zero-terminated. */
typedef struct {
  int kbps;            /* data rate: 96 .. 392 */
  int sample_rate;     /* 44100 */
  int channels;        /* 2 */
  uint32_t frames;     /* the header's frame count; 0 when the encoder could not store it */
  uint64_t samples;    /* samples per channel a decoder outputs: the source's exact length where
                          the header's LENGTH tag gives it (and the frames hold that many), else
                          frames x samples per frame minus the decoder's delay (0 when frames is 0
                          and no LENGTH is known) */
  uint32_t frame_bytes;       /* bytes in every frame */
  uint32_t samples_per_frame; /* samples per channel in every frame */
  uint32_t delay;      /* samples per channel by which the synthesis lags the source: the first
                          `delay` samples the first frame yields are dropped by a decoder */
  uint64_t header_bytes;      /* offset of the first frame in the stream */
  const char *title, *author, *comment;  /* the header's strings as they stand ("None" in a stream
                          the encoder left untagged); a comment that holds tags is their text: read
                          them with ostrel_decoder_tag_at or ostrel_comment_tags */
} ostrel_info;

/* ---- Tags ----------------------------------------------------------------------------------- */

/* A stream's tags are KEY=VALUE pairs with the keys and meanings of Vorbis comments (TITLE,
 * ARTIST, ALBUM, TRACKNUMBER, DATE, GENRE, COMMENT, REPLAYGAIN_TRACK_GAIN, ..., ENCODER), held in
 * the header's comment after the line "OSTREL-FIELDS/1" (doc/comment-fields.md). Keys are
 * upper case; a key may come more than once. LENGTH, which the encoder writes, is the source's
 * exact length in sample frames per channel (16 '?' when the encoder could not come back to
 * store it). A comment without that first line is one free-text comment. */
typedef void (*ostrel_tag_fn)(void *user, const char *key, const char *value);

/* Calls `fn` with each well-formed tag of the header comment `comment` (`bytes` bytes, as
 * ostrel_info's `comment`), in order, LENGTH among them. Returns 1 when the comment holds tags, 0
 * when it is free text (fn is not called), OSTREL_ERR_ARGUMENT or OSTREL_ERR_MEMORY. */
OSTREL_EXPORT int ostrel_comment_tags(const char *comment, size_t bytes, ostrel_tag_fn fn, void *user);

/* ---- Encoder ------------------------------------------------------------------------------- */

/* The longest header strings, in bytes: title and author, and the comment. */
#define OSTREL_TAG_MAX_BYTES 255
#define OSTREL_COMMENT_MAX_BYTES 65535

typedef struct ostrel_encoder ostrel_encoder;

/* Makes an encoder at `kbps` (96, 112, 128, 160, 192, 256 or 392; anything else fails with
 * OSTREL_ERR_BITRATE). Output goes through `write` (required); with `seek` (may be NULL) the
 * header's frame count is patched at finish, otherwise it stays 0 (such a stream still decodes).
 * `user` is passed to the callbacks as it is. Nothing is written until the first samples or
 * finish. On failure returns NULL and sets `*status` (when `status` is not NULL); on success
 * `*status` is OSTREL_OK. The stream is byte for byte the one the ostrelenc program writes for the
 * same samples, whatever the chunk sizes. */
OSTREL_EXPORT ostrel_encoder *ostrel_encoder_create(int kbps, ostrel_write_fn write, ostrel_seek_fn seek,
                                                    void *user, int *status) OSTREL_WARN_UNUSED_RESULT;

/* Sets a tag, replacing every value of its key; `value` is copied. `key` is any tag key (case does
 * not matter; "author" is ARTIST). The first TITLE and ARTIST also fill the header's title and
 * author strings, so they hold at most OSTREL_TAG_MAX_BYTES (255) bytes; untagged, those hold
 * "None". Every tag goes into the header's comment (see Tags), with LENGTH, and ENCODER unless one
 * is given. A value must be UTF-8 without NUL; all tags together must fit the comment's
 * OSTREL_COMMENT_MAX_BYTES (65535) bytes. A key that is not one (empty, '=' or a character
 * outside 0x20..0x7D), LENGTH, or a value that breaks these rules fails with OSTREL_ERR_TAG
 * (nothing is ever cut). Only before the first samples (else OSTREL_ERR_STATE). */
OSTREL_EXPORT int ostrel_encoder_set_tag(ostrel_encoder *enc, const char *key, const char *value)
    OSTREL_WARN_UNUSED_RESULT;

/* As ostrel_encoder_set_tag, but adds a further value of the key. */
OSTREL_EXPORT int ostrel_encoder_add_tag(ostrel_encoder *enc, const char *key, const char *value)
    OSTREL_WARN_UNUSED_RESULT;

/* With `on` 0, writes the header the first encoders wrote: the first TITLE, ARTIST and COMMENT
 * (or "None") as the three strings as they are (bytes, up to 255, 255 and 65535), no LENGTH (a
 * decoder then gives whole frames); other keys then fail with OSTREL_ERR_TAG. 1 is the default.
 * Only before the first samples, and with 0 only while no other key is set (else
 * OSTREL_ERR_STATE). */
OSTREL_EXPORT int ostrel_encoder_set_fields(ostrel_encoder *enc, int on) OSTREL_WARN_UNUSED_RESULT;

/* With `on` nonzero, selects the quality mode: the encoder chooses the weights and gains of every
 * frame against the audibility of its noise and uses the bits the reference encoder leaves as
 * padding. The stream has the same format and decodes with every decoder; coding takes about
 * twice as long. With `on` 0 (the default) the encoder makes the reference encoder's
 * choices, byte for byte those of the ostrelenc program's default. Only before the first samples
 * (else OSTREL_ERR_STATE). Returns OSTREL_OK, OSTREL_ERR_ARGUMENT (enc NULL), OSTREL_ERR_STATE or
 * OSTREL_ERR_MEMORY. */
OSTREL_EXPORT int ostrel_encoder_set_quality(ostrel_encoder *enc, int on) OSTREL_WARN_UNUSED_RESULT;

/* Codes with `threads` threads (1, the default, codes on the calling thread only; from 2 the
 * analysis runs on threads - 1 more threads of the encoder, of which at most 3 are used). The
 * stream is byte for byte the same for every count. With 2 or more, a frame is coded (and its
 * bytes written) only once the samples of the 3 frames after it have been written too, or at
 * ostrel_encoder_finish. Only before the first samples and at most once with 2 or more (else
 * OSTREL_ERR_STATE). Returns OSTREL_OK, OSTREL_ERR_ARGUMENT (enc NULL or threads < 1),
 * OSTREL_ERR_STATE or OSTREL_ERR_MEMORY (also when a thread cannot be started). */
OSTREL_EXPORT int ostrel_encoder_set_threads(ostrel_encoder *enc, int threads) OSTREL_WARN_UNUSED_RESULT;

/* Called before each frame is coded, with the frame's number (counted from 0), on the thread that
 * called ostrel_encoder_write, ostrel_encoder_write_float or ostrel_encoder_finish: for progress
 * displays and for stopping at a frame's edge. Returns 0 to go on; nonzero stops the encoder
 * before that frame: the call coding it and every later write return OSTREL_ERR_STOPPED, and
 * ostrel_encoder_finish ends the stream after the frames coded so far (with its last bits and, with
 * a seek callback, their count) and returns OSTREL_OK. It must not call the encoder. */
typedef int (*ostrel_frame_fn)(void *user, uint32_t frame);

/* Sets the frame callback `fn` (NULL: none, the default) and the `user` pointer passed to it as it
 * is. Only before the first samples. Returns OSTREL_OK, OSTREL_ERR_ARGUMENT (enc NULL) or
 * OSTREL_ERR_STATE. */
OSTREL_EXPORT int ostrel_encoder_set_frame_callback(ostrel_encoder *enc, ostrel_frame_fn fn, void *user)
    OSTREL_WARN_UNUSED_RESULT;

/* Codes `frames` interleaved 16-bit stereo sample frames (borrowed for the call). Whole frames
 * of the stream are written as soon as they are complete. Returns OSTREL_OK or an error
 * (OSTREL_ERR_INTERNAL when a frame could not be coded within its size, OSTREL_ERR_FRAME_VALUE,
 * OSTREL_ERR_WRITE, OSTREL_ERR_STOPPED, OSTREL_ERR_STATE after finish); after an error every later
 * call returns that error. */
OSTREL_EXPORT int ostrel_encoder_write(ostrel_encoder *enc, const int16_t *interleaved, size_t frames)
    OSTREL_WARN_UNUSED_RESULT;

/* As ostrel_encoder_write with float samples on the scale -1..1 (1.0 is 32768 on the 16-bit
 * scale). Samples are not rounded to 16 bits first; values beyond full scale are limited to it
 * and counted (ostrel_encoder_clipped), NaN counts as 0. */
OSTREL_EXPORT int ostrel_encoder_write_float(ostrel_encoder *enc, const float *interleaved, size_t frames)
    OSTREL_WARN_UNUSED_RESULT;

/* Codes what is left (and, when the input's last samples still need the next frame's overlap, one
 * more frame of silence, so that a decoder gives back every input sample), writes the last bits
 * and, with a seek callback, patches the frame count and LENGTH (the sample frames written, as far
 * as the frames coded hold them) in one write from the start of the stream.
 * After it only ostrel_encoder_destroy and the queries below are useful. Returns OSTREL_OK,
 * OSTREL_ERR_WRITE, OSTREL_ERR_SEEK (all frames written, count not stored) or another error.
 * After a stop by the frame callback, OSTREL_ERR_INTERNAL (a frame did not fit its size) or
 * OSTREL_ERR_FRAME_VALUE the stream is still closed after the frames coded (last bits, count), and
 * the status says what happened (OSTREL_OK after a stop); after OSTREL_ERR_WRITE nothing more is
 * written. */
OSTREL_EXPORT int ostrel_encoder_finish(ostrel_encoder *enc) OSTREL_WARN_UNUSED_RESULT;

/* Frames of the stream written so far, and float samples limited to full scale so far. */
OSTREL_EXPORT uint32_t ostrel_encoder_frames(const ostrel_encoder *enc);
OSTREL_EXPORT uint64_t ostrel_encoder_clipped(const ostrel_encoder *enc);

/* Releases the encoder; a stream not finished stays incomplete (nothing more is written). NULL is
 * allowed. */
OSTREL_EXPORT void ostrel_encoder_destroy(ostrel_encoder *enc);

/* ---- Decoder ------------------------------------------------------------------------------- */

typedef struct ostrel_decoder ostrel_decoder;

/* Makes a decoder that reads the stream through `read` (required; `user` is passed as it is) and
 * reads its header at once: ostrel_decoder_open without a seek callback or flags, for a callback
 * that cannot tell an error from the end. A stream that is not Ostrel fails with
 * OSTREL_ERR_NOT_OSTREL, OSTREL_ERR_TRUNCATED or OSTREL_ERR_UNSUPPORTED in `*status` and NULL. */
OSTREL_EXPORT ostrel_decoder *ostrel_decoder_create(ostrel_read_fn read, void *user, int *status)
    OSTREL_WARN_UNUSED_RESULT;

/* Flags of ostrel_decoder_open. */
#define OSTREL_JOIN 1  /* the stream may begin anywhere (a broadcast joined late, a cut file) */

/* Makes a decoder that reads the stream through `read` (required) and, for ostrel_decoder_seek,
 * moves to a byte offset through `seek` (may be NULL: the decoder then reads straight through;
 * offsets count from the first byte `read` delivered). `user` is passed to both as it is. The
 * header is read at once. With `flags` OSTREL_JOIN a stream that does not start with a header is
 * searched for its first frame (ostrel_find_frame) and decoded from there: its ostrel_info has
 * the frame's rate, `frames` and `samples` 0 (not known), `header_bytes` the bytes passed over
 * before that frame and empty strings; the first `delay` samples of the first frame are dropped
 * as at the start of a stream. `flags` 0 takes only streams that start with their header.
 * On failure returns NULL and sets `*status` (when `status` is not NULL): OSTREL_ERR_ARGUMENT
 * (`read` NULL or an unknown flag), OSTREL_ERR_NOT_OSTREL (no header, and with OSTREL_JOIN no frame
 * in the first 4 MiB either), OSTREL_ERR_TRUNCATED, OSTREL_ERR_UNSUPPORTED, OSTREL_ERR_READ (the
 * callback failed) or OSTREL_ERR_MEMORY; on success `*status` is OSTREL_OK. */
OSTREL_EXPORT ostrel_decoder *ostrel_decoder_open(ostrel_input_fn read, ostrel_seek_fn seek, void *user, int flags,
                                                  int *status) OSTREL_WARN_UNUSED_RESULT;

/* Fills `*info` with the header's facts. The strings belong to the decoder and live as long as
 * it does. Returns OSTREL_OK or OSTREL_ERR_ARGUMENT. */
OSTREL_EXPORT int ostrel_decoder_info(const ostrel_decoder *dec, ostrel_info *info);

/* The stream's tags (see Tags): how many, and the `index`-th (0 .. count - 1) as pointers to
 * strings owned by the decoder. ostrel_decoder_tag_at returns OSTREL_OK or OSTREL_ERR_ARGUMENT. */
OSTREL_EXPORT int ostrel_decoder_tag_count(const ostrel_decoder *dec);
OSTREL_EXPORT int ostrel_decoder_tag_at(const ostrel_decoder *dec, int index, const char **key, const char **value);

/* "" or, in plain words, what was wrong with the header's tags: a malformed line (left out), or a
 * LENGTH more than the frames hold (the frames are trusted). Owned by the decoder. */
OSTREL_EXPORT const char *ostrel_decoder_tag_note(const ostrel_decoder *dec);

/* Stores up to `frames` interleaved 16-bit stereo sample frames in `interleaved` (room for
 * 2 x frames values; `frames` at least 1). Returns how many were stored (> 0), 0 at the end of
 * the stream (after ostrel_info's `samples`), or a negative status: OSTREL_ERR_ARGUMENT when `dec` or `interleaved` is NULL or
 * `frames` is 0 (so 0 always means the end), OSTREL_ERR_MEMORY (from then on at every call). The output lines up sample for sample with the encoder's input. Frames are
 * read up to the header's count (all whole frames there when it is 0); a damaged frame is
 * decoded as silence and counted, not an error. */
OSTREL_EXPORT long ostrel_decoder_read(ostrel_decoder *dec, int16_t *interleaved, size_t frames);

/* The header string `key` ("title", "author" or "comment") with every byte it holds: a header
 * string may hold NUL bytes, which end the copies in ostrel_info. Returns a pointer to the bytes
 * (owned by the decoder, living as long as it does, with a zero byte after them) and stores their
 * count in `*bytes` (when `bytes` is not NULL); NULL for an unknown key or a NULL argument. A
 * stream joined without its header has empty strings. */
OSTREL_EXPORT const char *ostrel_decoder_tag(const ostrel_decoder *dec, const char *key, size_t *bytes);

/* As ostrel_decoder_read with float samples on the scale -1..1 (32768 on the 16-bit scale is
 * 1.0), neither rounded to 16 bits nor limited to full scale (a loud passage may go a little
 * beyond 1). A read callback's error gives OSTREL_ERR_READ here as in ostrel_decoder_read. */
OSTREL_EXPORT long ostrel_decoder_read_float(ostrel_decoder *dec, float *interleaved, size_t frames);

/* Moves to sample `sample` (per channel, counted from the first output sample, 0 ..
 * ostrel_info's `samples`): the next read starts exactly with the sample a decoding from the start
 * gives there. Decodes the frame before the one that holds it again (for the overlap), so it
 * reads at most two frames. Returns OSTREL_OK; OSTREL_ERR_ARGUMENT (`dec` NULL, or `sample` beyond
 * the stream's samples when the header gives its frame count); OSTREL_ERR_STATE (the decoder was
 * made without a seek callback); OSTREL_ERR_SEEK (the callback failed) or OSTREL_ERR_READ (the read
 * callback failed): then the decoder stands at the end (reads return 0) until a seek succeeds;
 * OSTREL_ERR_MEMORY (from then on at every call, as for ostrel_decoder_read).
 * A sample past the end of a stream without a frame count also leaves it at the end, with
 * OSTREL_OK. */
OSTREL_EXPORT int ostrel_decoder_seek(ostrel_decoder *dec, uint64_t sample);

/* The sample (per channel) the next read starts with: the samples read so far, or where the last
 * seek went and read on from there. 0 for NULL. */
OSTREL_EXPORT uint64_t ostrel_decoder_tell(const ostrel_decoder *dec);

/* What the last frame decoded held: for listings and checks, as ostreldec -v prints it. */
typedef struct {
  uint32_t index;       /* the frame's number, counted from 0 (in a joined stream from the first
                           frame found) */
  int damaged;          /* nonzero when the frame was damaged (and decoded as silence) */
  const char *damage;   /* why, e.g. "bad sync word"; "" when intact. Static string */
  int step;             /* the frame's step size, 1..32 (0 when damaged before it) */
  int symbols;          /* coded symbols */
  uint32_t bits;        /* bits used before the padding */
  int switched[2];      /* per channel: nonzero when the channel has short blocks this frame */
  int location[2];      /* per channel: the long block where they start (0 when not switched) */
} ostrel_frame_report;

/* Fills `*report` about the last frame decoded. Returns OSTREL_OK, OSTREL_ERR_ARGUMENT (a NULL
 * pointer) or OSTREL_ERR_STATE (no frame decoded yet). */
OSTREL_EXPORT int ostrel_decoder_frame_report(const ostrel_decoder *dec, ostrel_frame_report *report);

/* Frames of the stream decoded so far, and how many of them were damaged. */
OSTREL_EXPORT uint32_t ostrel_decoder_frames_decoded(const ostrel_decoder *dec);
OSTREL_EXPORT int ostrel_decoder_damaged_frames(const ostrel_decoder *dec);

/* Releases the decoder. NULL is allowed. */
OSTREL_EXPORT void ostrel_decoder_destroy(ostrel_decoder *dec);

/* ---- Frame-level decoding ------------------------------------------------------------------ */

/* Parses a header from the first `bytes` bytes at `data`. On OSTREL_OK fills `*info`; its strings
 * point into `strings`, a caller's buffer of `strings_bytes` bytes (256 + 256 + 65536 is always
 * enough; with too small a buffer, or NULL, the strings are cut or empty). Returns
 * OSTREL_ERR_TRUNCATED when more bytes are needed (at most 18 + 255 + 255 + 65535), or
 * OSTREL_ERR_NOT_OSTREL / OSTREL_ERR_UNSUPPORTED. With OSTREL_ERR_UNSUPPORTED `*info` still holds
 * what the header says (`kbps` twice its rate code, `sample_rate`, `channels`, `frames`), so that
 * a caller can name what is not supported; its other fields are 0 and its strings empty. */
OSTREL_EXPORT int ostrel_parse_header(const void *data, size_t bytes, ostrel_info *info, char *strings,
                                      size_t strings_bytes);

/* Looks for the first frame in the `bytes` bytes at `data` (a stream joined in the middle, bytes
 * after a damaged stretch). A position is a frame start at a rate when the sync word stands there,
 * the frame of that rate's size that begins there reads without damage, and the sync word of the
 * next frame follows it; with `end` nonzero (the bytes run to the end of the stream) a whole frame
 * with nothing after it is taken on its own reading. Returns OSTREL_OK with the frame's offset in
 * `*offset` and its rate in `*kbps`; OSTREL_ERR_TRUNCATED when a frame may start at `*offset` but
 * only more bytes (from there on) can tell; OSTREL_ERR_NOT_OSTREL when there is none, with
 * `*offset` the bytes a caller may drop before looking again with more; OSTREL_ERR_ARGUMENT for a
 * NULL pointer; OSTREL_ERR_MEMORY. */
OSTREL_EXPORT int ostrel_find_frame(const void *data, size_t bytes, int end, size_t *offset, int *kbps);

/* Makes a stream's header anew with other tags, for retagging without coding again: from the
 * whole header at `header` (`bytes` bytes, as ostrel_parse_header takes it), a header with the
 * same rate, frame count and LENGTH (or LENGTH unknown, where it had none) that holds exactly the
 * `count` tags keys[i]=values[i], in order (the rules of ostrel_encoder_set_tag; no ENCODER is
 * added). The frames that followed the old header follow the new one unchanged. Stores it at
 * `out` (`out_bytes` bytes of room; at most 18 + 255 + 255 + 65535 are needed) and its size in
 * `*written`. Returns OSTREL_OK; OSTREL_ERR_ARGUMENT (a NULL pointer, or too little room: then
 * `*written` is the room needed); OSTREL_ERR_TAG; OSTREL_ERR_NOT_OSTREL or OSTREL_ERR_TRUNCATED
 * for a header that cannot be read; OSTREL_ERR_MEMORY. */
OSTREL_EXPORT int ostrel_retag_header(const void *header, size_t bytes, const char *const *keys,
                                      const char *const *values, size_t count, void *out, size_t out_bytes,
                                      size_t *written);

typedef struct ostrel_frame_decoder ostrel_frame_decoder;

/* Makes a decoder of single frames at `kbps`. NULL and `*status` on failure. */
OSTREL_EXPORT ostrel_frame_decoder *ostrel_frame_decoder_create(int kbps, int *status) OSTREL_WARN_UNUSED_RESULT;

/* Decodes one frame of exactly ostrel_frame_bytes(kbps) bytes at `frame` into `interleaved`
 * (room for 2 x samples per frame values): samples_per_frame sample frames. The output of the
 * stream's k-th frame (counted from 0) stands for the source samples from k x samples_per_frame -
 * delay on. The first `delay` samples output after create or reset are not valid (the overlap is
 * still being built): a player drops them, or starts decoding one frame before the one it wants.
 * `delay` is ostrel_frame_decoder_delay(kbps).
 * Returns OSTREL_OK, OSTREL_ERR_DAMAGED (the output is silence that keeps the overlap going),
 * OSTREL_ERR_ARGUMENT for a wrong size, or OSTREL_ERR_MEMORY (nothing stored; the decoder is
 * reset, as after a seek). */
OSTREL_EXPORT int ostrel_frame_decoder_decode(ostrel_frame_decoder *dec, const void *frame, size_t bytes,
                                              int16_t *interleaved);

/* Forgets the overlap, as after a seek: the next frame counts as the first. */
OSTREL_EXPORT void ostrel_frame_decoder_reset(ostrel_frame_decoder *dec);

/* Releases the frame decoder. NULL is allowed. */
OSTREL_EXPORT void ostrel_frame_decoder_destroy(ostrel_frame_decoder *dec);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_OSTREL_H */
