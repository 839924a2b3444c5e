#include "cli/ProgressLine.h"

#include <utility>

namespace ostrel {

namespace {
constexpr double kRedrawSeconds = 0.2;
}

ProgressLine::ProgressLine(std::FILE* out, bool enabled, std::string label, uint64_t totalSamples,
                           unsigned sampleRate)
    : out_(out),
      enabled_(enabled),
      label_(std::move(label)),
      total_(totalSamples),
      rate_(sampleRate),
      start_(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() { Clear(); }

double ProgressLine::Elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string ProgressLine::Text(uint64_t samplesDone, double elapsed) const {
  const double audio = static_cast<double>(samplesDone) / rate_;
  std::string text = label_ + ": ";
  char figure[64];
  if (total_ > 0) {
    const uint64_t done = samplesDone < total_ ? samplesDone : total_;
    std::snprintf(figure, sizeof figure, "%3u%%", static_cast<unsigned>(done * 100 / total_));
    text += figure;
  } else {
    text += ClockText(audio) + " coded";
  }
  text += ", " + ClockText(elapsed) + " elapsed";
  if (elapsed > 0.0 && samplesDone > 0) {
    text += ", " + SpeedText(audio, elapsed);
    if (total_ > samplesDone) {
      const double left = static_cast<double>(total_ - samplesDone) / rate_ / (audio / elapsed);
      text += ", " + ClockText(left) + " left";
    }
  }
  return text;
}

void ProgressLine::Update(uint64_t samplesDone) {
  if (!enabled_) return;
  const double now = Elapsed();
  if (lastShown_ >= 0.0 && now - lastShown_ < kRedrawSeconds) return;
  lastShown_ = now;
  const std::string text = Text(samplesDone, now);
  // Blanks over what is left of a longer line before.
  const std::string padding = shownLength_ > text.size() ? std::string(shownLength_ - text.size(), ' ') : "";
  std::fprintf(out_, "\r%s%s", text.c_str(), padding.c_str());
  std::fflush(out_);
  shownLength_ = text.size();
}

void ProgressLine::Clear() {
  if (!enabled_ || shownLength_ == 0) return;
  std::fprintf(out_, "\r%s\r", std::string(shownLength_, ' ').c_str());
  std::fflush(out_);
  shownLength_ = 0;
}

std::string ClockText(double seconds) {
  const uint64_t whole = seconds > 0.0 ? static_cast<uint64_t>(seconds) : 0;
  char text[48];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(whole / 3600),
                  static_cast<unsigned>(whole / 60 % 60), static_cast<unsigned>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(whole / 60), static_cast<unsigned>(whole % 60));
  }
  return text;
}

std::string CodedText(uint64_t samplesDone, uint64_t totalSamples, unsigned sampleRate) {
  char text[96];
  const uint64_t done = totalSamples > 0 && samplesDone > totalSamples ? totalSamples : samplesDone;
  const double seconds = static_cast<double>(done) / sampleRate;
  if (totalSamples == 0) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else {
    std::snprintf(text, sizeof text, "%.1f s of %.1f s (%u%%)", seconds,
                  static_cast<double>(totalSamples) / sampleRate, static_cast<unsigned>(done * 100 / totalSamples));
  }
  return text;
}

std::string SizeText(uint64_t bytes) {
  char text[48];
  if (bytes >= 1000000) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  } else if (bytes >= 1000) {
    std::snprintf(text, sizeof text, "%.0f kB", static_cast<double>(bytes) / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  }
  return text;
}

std::string SpeedText(double audioSeconds, double elapsed) {
  char text[48];
  if (elapsed <= 0.0) return "- real time";
  std::snprintf(text, sizeof text, "%.1fx real time", audioSeconds / elapsed);
  return text;
}

}  // namespace ostrel
