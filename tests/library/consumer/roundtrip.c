/* A client of the installed libostrel: encodes two seconds of generated stereo samples from
 * memory at every rate, decodes them back from memory, and checks the length and the header.
 * Exits 0 when everything held, else prints what failed and exits 1. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ostrel/ostrel.h>

struct buffer {
  unsigned char *data;
  size_t size, capacity, at;
};

static int put(void *user, const void *data, size_t bytes) {
  struct buffer *b = user;
  if (b->at + bytes > b->capacity) {
    size_t capacity = (b->at + bytes) * 2;
    unsigned char *grown = realloc(b->data, capacity);
    if (grown == NULL) return 1;
    b->data = grown;
    b->capacity = capacity;
  }
  memcpy(b->data + b->at, data, bytes);
  b->at += bytes;
  if (b->at > b->size) b->size = b->at;
  return 0;
}

static int seek(void *user, uint64_t offset) {
  struct buffer *b = user;
  if (offset > b->size) return 1;
  b->at = (size_t)offset;
  return 0;
}

static size_t get(void *user, void *data, size_t bytes) {
  struct buffer *b = user;
  size_t left = b->size - b->at;
  if (bytes > left) bytes = left;
  memcpy(data, b->data + b->at, bytes);
  b->at += bytes;
  return bytes;
}

#define FRAMES 88200

int main(void) {
  static int16_t source[2 * FRAMES];
  static int16_t decoded[2 * 4096];
  int count = 0;
  const int *rates = ostrel_bitrates(&count);
  int failures = 0;
  for (size_t i = 0; i < FRAMES; ++i) {
    source[2 * i] = (int16_t)(8000.0 * sin(i * 0.0627));
    source[2 * i + 1] = (int16_t)(5000.0 * sin(i * 0.0311));
  }
  printf("libostrel %s\n", ostrel_version());
  for (int r = 0; r < count; ++r) {
    struct buffer stream = {0};
    int status = -100;
    ostrel_encoder *enc = ostrel_encoder_create(rates[r], put, seek, &stream, &status);
    if (enc == NULL) {
      printf("%d kb/s: create: %s\n", rates[r], ostrel_strerror(status));
      return 1;
    }
    if (ostrel_encoder_set_tag(enc, "title", "roundtrip") != OSTREL_OK) ++failures;
    for (size_t done = 0; done < FRAMES;) {
      size_t n = 1000 + done % 3000;
      if (n > FRAMES - done) n = FRAMES - done;
      if (ostrel_encoder_write(enc, source + 2 * done, n) != OSTREL_OK) ++failures;
      done += n;
    }
    if ((status = ostrel_encoder_finish(enc)) != OSTREL_OK) {
      printf("%d kb/s: finish: %s\n", rates[r], ostrel_strerror(status));
      ++failures;
    }
    ostrel_encoder_destroy(enc);

    stream.at = 0;
    ostrel_decoder *dec = ostrel_decoder_create(get, &stream, &status);
    if (dec == NULL) {
      printf("%d kb/s: decoder: %s\n", rates[r], ostrel_strerror(status));
      return 1;
    }
    ostrel_info info;
    if (ostrel_decoder_info(dec, &info) != OSTREL_OK || info.kbps != rates[r] || strcmp(info.title, "roundtrip") != 0 ||
        strcmp(info.author, "None") != 0 || info.frames == 0) {
      printf("%d kb/s: wrong header\n", rates[r]);
      ++failures;
    }
    uint64_t samples = 0;
    double signal = 0.0, noise = 0.0;
    long got;
    while ((got = ostrel_decoder_read(dec, decoded, 4096)) > 0) {
      for (long i = 0; i < 2 * got && samples * 2 + i < 2 * FRAMES; ++i) {
        double d = (double)source[samples * 2 + i] - decoded[i];
        signal += (double)source[samples * 2 + i] * source[samples * 2 + i];
        noise += d * d;
      }
      samples += (uint64_t)got;
    }
    if (got < 0 || samples != info.samples || samples < FRAMES || ostrel_decoder_damaged_frames(dec) != 0) {
      printf("%d kb/s: decoded %llu samples of %llu\n", rates[r], (unsigned long long)samples,
             (unsigned long long)info.samples);
      ++failures;
    }
    double snr = noise > 0.0 ? 10.0 * log10(signal / noise) : 99.0;
    printf("%d kb/s: %u frames, %llu samples, SNR %.1f dB\n", rates[r], info.frames, (unsigned long long)samples, snr);
    if (snr < 10.0) ++failures;
    ostrel_decoder_destroy(dec);
    free(stream.data);
  }
  return failures == 0 ? 0 : 1;
}
