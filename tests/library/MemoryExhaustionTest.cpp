// Running out of memory at every allocation of an encode and of a decode through the library: each
// point is tried in a process of its own (forked before any coding, so the transforms' caches are
// still to be built), with that one allocation failing. The call that meets it returns
// OSTREL_ERR_MEMORY and so does every later one; nothing is printed; what was handed over before
// is what a run with memory enough hands over; and a run the failure does not stop gives the same
// stream or samples. And the calls that need no memory allocate none.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/CountingAllocator.h"
#include "ostrel/ostrel.h"

namespace ostrel {
namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kKbps = 128;

// Output in storage reserved before the failure is armed, so that the test allocates nothing.
struct Capture {
  Bytes bytes = Bytes(1 << 20);
  size_t end = 0, at = 0;
  static int Write(void* user, const void* data, size_t n) {
    auto* c = static_cast<Capture*>(user);
    if (c->at + n > c->bytes.size()) return 1;
    std::memcpy(c->bytes.data() + c->at, data, n);
    c->at += n;
    if (c->at > c->end) c->end = c->at;
    return 0;
  }
  static int Seek(void* user, uint64_t offset) {
    static_cast<Capture*>(user)->at = static_cast<size_t>(offset);
    return 0;
  }
};

struct Reader {
  const Bytes* bytes;
  size_t at = 0;
  static size_t Read(void* user, void* data, size_t n) {
    auto* r = static_cast<Reader*>(user);
    n = std::min(n, r->bytes->size() - r->at);
    std::memcpy(data, r->bytes->data() + r->at, n);
    r->at += n;
    return n;
  }
};

// A frame and a fifth (coded in two) of a tone with a click in the first (block switching).
std::vector<int16_t> Source() {
  const long frames = ostrel_samples_per_frame(kKbps) * 6 / 5;
  std::vector<int16_t> pcm(2 * static_cast<size_t>(frames));
  for (long n = 0; n < frames; ++n) {
    const double tone = 6000.0 * std::sin(0.05 * static_cast<double>(n));
    const double click = (n / 64 == 130) ? 20000.0 * ((n % 2) ? 1 : -1) : 0.0;
    pcm[2 * n] = static_cast<int16_t>(tone + click);
    pcm[2 * n + 1] = static_cast<int16_t>(-tone / 2);
  }
  return pcm;
}

// Encodes `pcm` with `threads` threads into `out`. Returns the first status that is not OK, with
// a description of any broken promise in `*fault`.
int Encode(const std::vector<int16_t>& pcm, int threads, Capture* out, std::string* fault) {
  int status = OSTREL_OK;
  ostrel_encoder* enc = ostrel_encoder_create(kKbps, &Capture::Write, &Capture::Seek, out, &status);
  if (enc == nullptr) return status;
  // Threads that cannot be had leave an encoder that codes on one.
  int first = ostrel_encoder_set_threads(enc, threads);
  if (first != OSTREL_OK) {
    ostrel_encoder_destroy(enc);
    return first;
  }
  const size_t frames = pcm.size() / 2;
  for (size_t done = 0; done < frames && first == OSTREL_OK; done += 5000) {
    first = ostrel_encoder_write(enc, pcm.data() + 2 * done, std::min<size_t>(5000, frames - done));
  }
  if (first == OSTREL_OK) {
    first = ostrel_encoder_finish(enc);
  } else if (first == OSTREL_ERR_MEMORY) {
    if (ostrel_encoder_write(enc, pcm.data(), 1) != OSTREL_ERR_MEMORY) *fault = "a write after the failure went on";
    if (ostrel_encoder_finish(enc) != OSTREL_ERR_MEMORY) *fault = "finish after the failure did not report it";
  }
  ostrel_encoder_destroy(enc);
  return first;
}

// Decodes `stream` into `out` (reserved); the first status that is not OK.
int Decode(const Bytes& stream, std::vector<int16_t>* out, std::string* fault) {
  Reader reader{&stream};
  int status = OSTREL_OK;
  ostrel_decoder* dec = ostrel_decoder_create(&Reader::Read, &reader, &status);
  if (dec == nullptr) return status;
  int16_t chunk[2 * 3000];
  long got;
  while ((got = ostrel_decoder_read(dec, chunk, 3000)) > 0) out->insert(out->end(), chunk, chunk + 2 * got);
  if (got == OSTREL_ERR_MEMORY && ostrel_decoder_read(dec, chunk, 3000) != OSTREL_ERR_MEMORY) {
    *fault = "a read after the failure went on";
  }
  ostrel_decoder_destroy(dec);
  return got < 0 ? static_cast<int>(got) : OSTREL_OK;
}

struct Reference {
  Bytes stream;
  std::vector<int16_t> decoded;
};

// What a run with memory enough gives, made in a child so that this process builds no cache.
Reference MakeReference(const std::vector<int16_t>& pcm) {
  int link[2];
  EXPECT_EQ(pipe(link), 0);
  const pid_t child = fork();
  if (child == 0) {
    Capture out;
    std::string fault;
    std::vector<int16_t> decoded;
    if (Encode(pcm, 1, &out, &fault) != OSTREL_OK) _exit(1);
    out.bytes.resize(out.end);
    if (Decode(out.bytes, &decoded, &fault) != OSTREL_OK) _exit(1);
    const uint64_t sizes[2] = {out.bytes.size(), decoded.size() * 2};
    if (write(link[1], sizes, sizeof sizes) != sizeof sizes ||
        write(link[1], out.bytes.data(), sizes[0]) != static_cast<ssize_t>(sizes[0]) ||
        write(link[1], decoded.data(), sizes[1]) != static_cast<ssize_t>(sizes[1])) {
      _exit(1);
    }
    _exit(0);
  }
  close(link[1]);
  const auto readAll = [&link](void* data, size_t n) {
    for (size_t done = 0; done < n;) {
      const ssize_t got = read(link[0], static_cast<char*>(data) + done, n - done);
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  };
  Reference ref;
  uint64_t sizes[2] = {0, 0};
  if (readAll(sizes, sizeof sizes)) {
    ref.stream.resize(sizes[0]);
    ref.decoded.resize(sizes[1] / 2);
    EXPECT_TRUE(readAll(ref.stream.data(), sizes[0]) && readAll(ref.decoded.data(), sizes[1]));
  }
  close(link[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return ref;
}

enum class Part { Encode, Decode };

// The child's exit status: the run never got as far as the failing allocation, or it met it and
// kept every promise; anything else is a broken promise (described on its standard error).
constexpr int kNotReached = 20;
constexpr int kKept = 21;

// Runs `part` in a child with the `n`-th allocation failing; the child's exit status.
int TryPoint(Part part, long n, int threads, const std::vector<int16_t>& pcm, const Reference& ref) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    // Nothing may reach standard output: the library never prints.
    if (!std::freopen("/dev/null", "r", stdin)) _exit(3);
    int sink[2];
    if (pipe(sink) != 0 || dup2(sink[1], 1) < 0) _exit(3);
    std::string fault;
    Capture out;
    std::vector<int16_t> decoded;
    decoded.reserve(ref.decoded.size() + 8192);
    alarm(60);  // a run that hangs is ended by SIGALRM
    test::FailAllocationAt(n);
    int status = OSTREL_OK;
    try {
      status = part == Part::Encode ? Encode(pcm, threads, &out, &fault) : Decode(ref.stream, &decoded, &fault);
    } catch (...) {
      std::fprintf(stderr, "allocation %ld: an exception left the library\n", n);
      _exit(2);
    }
    const bool failed = test::FailedOnce();
    test::FailAllocationAt(0);
    std::fflush(stdout);
    char c;
    fcntl(sink[0], F_SETFL, O_NONBLOCK);
    if (read(sink[0], &c, 1) > 0) fault = "something was printed";
    if (status != OSTREL_OK && status != OSTREL_ERR_MEMORY) fault = std::string("status: ") + ostrel_strerror(status);
    if (status != OSTREL_OK && !failed) fault = "failed with memory enough";
    if (part == Part::Encode) {
      // Whole hand-overs only: what came is a beginning of the stream (the header's frame count
      // and its LENGTH excepted, stored only at the end).
      const size_t have = status == OSTREL_OK ? out.end : std::min(out.end, ref.stream.size());
      Bytes got(out.bytes.begin(), out.bytes.begin() + static_cast<long>(have));
      Bytes want(ref.stream.begin(), ref.stream.begin() + static_cast<long>(have));
      const std::string length = "\nLENGTH=";
      const auto at = std::search(ref.stream.begin(), ref.stream.end(), length.begin(), length.end());
      const size_t lengthAt = static_cast<size_t>(at - ref.stream.begin()) + length.size();
      for (Bytes* b : {&got, &want}) {
        std::fill(b->begin(), b->begin() + static_cast<long>(std::min<size_t>(14, b->size())), 0);
        for (size_t i = lengthAt; i < lengthAt + 16 && i < b->size(); ++i) (*b)[i] = '?';
      }
      if ((status == OSTREL_OK && out.end != ref.stream.size()) || got != want) {
        fault = "the stream differs from the one made with memory enough";
      }
    } else if ((status == OSTREL_OK && decoded != ref.decoded) ||
               !std::equal(decoded.begin(), decoded.end(), ref.decoded.begin())) {
      fault = "the samples differ from those decoded with memory enough";
    }
    if (!fault.empty()) {
      std::fprintf(stderr, "allocation %ld: %s\n", n, fault.c_str());
      _exit(2);
    }
    _exit(failed ? kKept : kNotReached);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) std::fprintf(stderr, "allocation %ld: ended by signal %d\n", n, WTERMSIG(status));
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Sweeps the failing allocation over every point of `part`; returns how many points there were.
long Sweep(Part part, int threads) {
  const std::vector<int16_t> pcm = Source();
  const Reference ref = MakeReference(pcm);
  EXPECT_FALSE(ref.stream.empty());
  long n = 1, broken = 0;
  for (; n < 5000; ++n) {
    const int result = TryPoint(part, n, threads, pcm, ref);
    if (result == kNotReached) break;
    if (result != kKept) ++broken;
  }
  EXPECT_LT(n, 5000);
  EXPECT_EQ(broken, 0) << "of " << n - 1 << " allocation points";
  return n - 1;
}

// A seek and a reset only clear the synthesis's overlap: they allocate nothing (so cannot run out
// of memory), and what follows them is what a new decoder gives.
TEST(MemoryExhaustionTest, SeekAndResetAllocateNothingAndDecodeAsNew) {
  Capture out;
  std::string fault;
  ASSERT_EQ(Encode(Source(), 1, &out, &fault), OSTREL_OK);
  const Bytes stream(out.bytes.begin(), out.bytes.begin() + static_cast<long>(out.end));
  std::vector<int16_t> whole;
  ASSERT_EQ(Decode(stream, &whole, &fault), OSTREL_OK);

  struct Input {
    Reader reader;
    static long Read(void* user, void* data, size_t n) {
      return static_cast<long>(Reader::Read(&static_cast<Input*>(user)->reader, data, n));
    }
    static int Seek(void* user, uint64_t offset) {
      static_cast<Input*>(user)->reader.at = static_cast<size_t>(offset);
      return 0;
    }
  } input{{&stream}};
  int status = OSTREL_OK;
  ostrel_decoder* dec = ostrel_decoder_open(&Input::Read, &Input::Seek, &input, 0, &status);
  ASSERT_NE(dec, nullptr);
  ostrel_info info;
  ASSERT_EQ(ostrel_decoder_info(dec, &info), OSTREL_OK);
  int16_t chunk[2 * 3000];
  ASSERT_GT(ostrel_decoder_read(dec, chunk, 3000), 0);
  const uint64_t target = static_cast<uint64_t>(ostrel_samples_per_frame(kKbps)) + 100;  // in the second frame
  long before = test::AllocationCount();
  ASSERT_EQ(ostrel_decoder_seek(dec, target), OSTREL_OK);
  ASSERT_EQ(ostrel_decoder_read(dec, chunk, 3000), 3000);
  EXPECT_EQ(test::AllocationCount() - before, 0);
  EXPECT_TRUE(std::equal(chunk, chunk + 2 * 3000, whole.begin() + 2 * static_cast<long>(target)));
  ostrel_decoder_destroy(dec);

  ostrel_frame_decoder* frames = ostrel_frame_decoder_create(kKbps, &status);
  ASSERT_NE(frames, nullptr);
  ASSERT_GE(stream.size(), info.header_bytes + 2 * info.frame_bytes);
  std::vector<int16_t> first(2 * info.samples_per_frame), again(first.size());
  ASSERT_EQ(ostrel_frame_decoder_decode(frames, stream.data() + info.header_bytes, info.frame_bytes, first.data()),
            OSTREL_OK);
  ASSERT_EQ(ostrel_frame_decoder_decode(frames, stream.data() + info.header_bytes + info.frame_bytes,
                                        info.frame_bytes, again.data()),
            OSTREL_OK);
  before = test::AllocationCount();
  ostrel_frame_decoder_reset(frames);
  ASSERT_EQ(ostrel_frame_decoder_decode(frames, stream.data() + info.header_bytes, info.frame_bytes, again.data()),
            OSTREL_OK);
  EXPECT_EQ(test::AllocationCount() - before, 0);
  EXPECT_EQ(again, first);
  ostrel_frame_decoder_destroy(frames);
}

TEST(MemoryExhaustionTest, EveryAllocationOfAnEncodeFailsCleanly) {
  EXPECT_GT(Sweep(Part::Encode, 1), 20);
}

TEST(MemoryExhaustionTest, EveryAllocationOfAnEncodeOnThreadsFailsCleanly) {
  EXPECT_GT(Sweep(Part::Encode, 2), 20);
}

TEST(MemoryExhaustionTest, EveryAllocationOfADecodeFailsCleanly) {
  EXPECT_GT(Sweep(Part::Decode, 1), 5);
}

}  // namespace
}  // namespace ostrel
