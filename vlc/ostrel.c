/* The VLC module of Ostrel streams: a demuxer that recognises the header, gives VLC the exact
 * duration and the tags as metadata, seeks to the sample, and decodes through libostrel's decoder
 * (a damaged frame plays as silence), handing VLC 16-bit stereo PCM. A client of the public
 * library only. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define MODULE_NAME ostrel
#define MODULE_STRING "ostrel"
#define N_(str) (str)
#define _(str) (str)

#include <vlc_common.h>
#include <vlc_plugin.h>
#include <vlc_aout.h>
#include <vlc_demux.h>
#include <vlc_meta.h>

#include "include/ostrel/ostrel.h"

static int Open(vlc_object_t *object);
static void Close(vlc_object_t *object);

vlc_module_begin()
  set_shortname("Ostrel")
  set_description("Ostrel audio demuxer and decoder (libostrel)")
  set_category(CAT_INPUT)
  set_subcategory(SUBCAT_INPUT_DEMUX)
  set_capability("demux", 155)
  set_callbacks(Open, Close)
  add_shortcut("ostrel")
vlc_module_end()

enum { kBlockFrames = 4096 };

struct demux_sys_t {
  ostrel_decoder *dec;
  ostrel_info info;
  es_out_id_t *es;
  vlc_meta_t *meta;
  int damaged_reported;
};

static long ReadInput(void *user, void *data, size_t bytes) {
  demux_t *demux = user;
  ssize_t n = vlc_stream_Read(demux->s, data, bytes);
  return n < 0 ? -1 : (long)n;
}

static int SeekInput(void *user, uint64_t offset) {
  demux_t *demux = user;
  return vlc_stream_Seek(demux->s, offset) == VLC_SUCCESS ? 0 : 1;
}

static mtime_t SampleTime(uint64_t sample) { return (mtime_t)(sample * CLOCK_FREQ / 44100); }

/* The tags in VLC's metadata: the common keys in their fields, every other as an extra. */
static void AddTag(vlc_meta_t *meta, const char *key, const char *value) {
  static const struct { const char *key; vlc_meta_type_t type; } known[] = {
      {"TITLE", vlc_meta_Title},         {"ARTIST", vlc_meta_Artist},       {"ALBUM", vlc_meta_Album},
      {"TRACKNUMBER", vlc_meta_TrackNumber}, {"DATE", vlc_meta_Date},       {"GENRE", vlc_meta_Genre},
      {"COMMENT", vlc_meta_Description}, {"COPYRIGHT", vlc_meta_Copyright}, {"ALBUMARTIST", vlc_meta_AlbumArtist},
      {"DISCNUMBER", vlc_meta_DiscNumber}, {"ENCODER", vlc_meta_EncodedBy},
  };
  for (size_t i = 0; i < sizeof known / sizeof known[0]; ++i) {
    if (strcmp(key, known[i].key) == 0) {
      if (vlc_meta_Get(meta, known[i].type) == NULL) vlc_meta_Set(meta, known[i].type, value);
      return;
    }
  }
  vlc_meta_AddExtra(meta, key, value);
}

static void ReadMeta(demux_sys_t *sys) {
  int count = ostrel_decoder_tag_count(sys->dec);
  if (count > 0) {
    for (int i = 0; i < count; ++i) {
      const char *key, *value;
      if (ostrel_decoder_tag_at(sys->dec, i, &key, &value) == OSTREL_OK) AddTag(sys->meta, key, value);
    }
    return;
  }
  /* A header without tags: its three strings, unless the encoder left them untagged. */
  if (sys->info.title[0] && strcmp(sys->info.title, "None") != 0) vlc_meta_SetTitle(sys->meta, sys->info.title);
  if (sys->info.author[0] && strcmp(sys->info.author, "None") != 0) vlc_meta_SetArtist(sys->meta, sys->info.author);
  if (sys->info.comment[0] && strcmp(sys->info.comment, "None") != 0)
    vlc_meta_SetDescription(sys->meta, sys->info.comment);
}

static int Demux(demux_t *demux) {
  demux_sys_t *sys = demux->p_sys;
  block_t *block = block_Alloc(kBlockFrames * 4);
  if (block == NULL) return VLC_DEMUXER_EGENERIC;
  const uint64_t first = ostrel_decoder_tell(sys->dec);
  long n = ostrel_decoder_read(sys->dec, (int16_t *)block->p_buffer, kBlockFrames);
  if (n <= 0) {
    block_Release(block);
    if (n < 0) msg_Err(demux, "decoding failed: %s", ostrel_strerror((int)n));
    return n == 0 ? VLC_DEMUXER_EOF : VLC_DEMUXER_EGENERIC;
  }
  const int damaged = ostrel_decoder_damaged_frames(sys->dec);
  if (damaged > sys->damaged_reported) {
    msg_Warn(demux, "a damaged frame, played as silence (%d so far)", damaged);
    sys->damaged_reported = damaged;
  }
  block->i_buffer = (size_t)n * 4;
  block->i_nb_samples = (unsigned)n;
  block->i_pts = block->i_dts = VLC_TS_0 + SampleTime(first);
  block->i_length = SampleTime(first + (uint64_t)n) - SampleTime(first);
  es_out_SetPCR(demux->out, block->i_pts);
  es_out_Send(demux->out, sys->es, block);
  return VLC_DEMUXER_SUCCESS;
}

static int Seek(demux_t *demux, uint64_t sample) {
  demux_sys_t *sys = demux->p_sys;
  if (sys->info.samples && sample > sys->info.samples) sample = sys->info.samples;
  int status = ostrel_decoder_seek(sys->dec, sample);
  if (status != OSTREL_OK) {
    msg_Err(demux, "cannot seek to sample %" PRIu64 ": %s", sample, ostrel_strerror(status));
    return VLC_EGENERIC;
  }
  es_out_Control(demux->out, ES_OUT_RESET_PCR);
  return VLC_SUCCESS;
}

static int Control(demux_t *demux, int query, va_list args) {
  demux_sys_t *sys = demux->p_sys;
  const uint64_t total = sys->info.samples;
  switch (query) {
    case DEMUX_CAN_SEEK: {
      bool can = false;
      vlc_stream_Control(demux->s, STREAM_CAN_SEEK, &can);
      *va_arg(args, bool *) = can;
      return VLC_SUCCESS;
    }
    case DEMUX_GET_LENGTH:
      *va_arg(args, int64_t *) = SampleTime(total);
      return VLC_SUCCESS;
    case DEMUX_GET_TIME:
      *va_arg(args, int64_t *) = SampleTime(ostrel_decoder_tell(sys->dec));
      return VLC_SUCCESS;
    case DEMUX_GET_POSITION:
      *va_arg(args, double *) = total ? (double)ostrel_decoder_tell(sys->dec) / (double)total : 0.0;
      return VLC_SUCCESS;
    case DEMUX_SET_TIME: {
      int64_t t = va_arg(args, int64_t);
      return Seek(demux, t <= 0 ? 0 : (uint64_t)((t * 44100 + CLOCK_FREQ / 2) / CLOCK_FREQ));
    }
    case DEMUX_SET_POSITION: {
      double p = va_arg(args, double);
      if (!total) return VLC_EGENERIC;
      return Seek(demux, p <= 0 ? 0 : (uint64_t)(p * (double)total));
    }
    case DEMUX_GET_META:
      vlc_meta_Merge(va_arg(args, vlc_meta_t *), sys->meta);
      return VLC_SUCCESS;
    case DEMUX_HAS_UNSUPPORTED_META:
      *va_arg(args, bool *) = false;
      return VLC_SUCCESS;
    default:
      return demux_vaControlHelper(demux->s, 0, -1, 0, 1, query, args);
  }
}

static int Open(vlc_object_t *object) {
  demux_t *demux = (demux_t *)object;
  /* Ours when the first bytes read as a header, or the start of one. */
  const uint8_t *peek;
  ssize_t have = vlc_stream_Peek(demux->s, &peek, 4096);
  if (have < 5) return VLC_EGENERIC;
  ostrel_info probe;
  int status = ostrel_parse_header(peek, (size_t)have, &probe, NULL, 0);
  if (status != OSTREL_OK && status != OSTREL_ERR_TRUNCATED) return VLC_EGENERIC;

  demux_sys_t *sys = calloc(1, sizeof *sys);
  if (sys == NULL) return VLC_ENOMEM;
  bool can_seek = false;
  vlc_stream_Control(demux->s, STREAM_CAN_SEEK, &can_seek);
  sys->dec = ostrel_decoder_open(ReadInput, can_seek ? SeekInput : NULL, demux, 0, &status);
  if (sys->dec == NULL) {
    msg_Err(demux, "not playable: %s", ostrel_strerror(status));
    free(sys);
    return VLC_EGENERIC;
  }
  ostrel_decoder_info(sys->dec, &sys->info);
  sys->meta = vlc_meta_New();
  if (sys->meta) ReadMeta(sys);

  es_format_t fmt;
  es_format_Init(&fmt, AUDIO_ES, VLC_CODEC_S16N);
  fmt.audio.i_rate = (unsigned)sys->info.sample_rate;
  fmt.audio.i_channels = 2;
  fmt.audio.i_physical_channels = AOUT_CHANS_STEREO;
  fmt.audio.i_bitspersample = 16;
  fmt.audio.i_blockalign = 4;
  fmt.i_bitrate = (unsigned)sys->info.kbps * 1000;
  sys->es = es_out_Add(demux->out, &fmt);
  if (sys->es == NULL || sys->meta == NULL) {
    if (sys->meta) vlc_meta_Delete(sys->meta);
    ostrel_decoder_destroy(sys->dec);
    free(sys);
    return VLC_ENOMEM;
  }
  msg_Dbg(demux, "Ostrel stream: %d kb/s, %" PRIu64 " samples", sys->info.kbps, sys->info.samples);
  demux->p_sys = sys;
  demux->pf_demux = Demux;
  demux->pf_control = Control;
  return VLC_SUCCESS;
}

static void Close(vlc_object_t *object) {
  demux_t *demux = (demux_t *)object;
  demux_sys_t *sys = demux->p_sys;
  vlc_meta_Delete(sys->meta);
  ostrel_decoder_destroy(sys->dec);
  free(sys);
}
