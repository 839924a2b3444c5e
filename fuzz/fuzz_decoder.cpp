// Fuzz target: the whole decoding path (header checks, frame reading, synthesis, WAV writing and
// the --info listing) on arbitrary file contents.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "decoder/Decoder.h"
#include "fuzz/FuzzFile.h"

namespace {

// One scratch folder for the whole run, removed at exit. Never freed, so it outlives the handler.
const std::string& OutputFolder() {
  static const std::string* folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return new std::string(pattern);
  }();
  static const bool cleanup = [] {
    return std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    }) == 0;
  }();
  (void)cleanup;
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ostrel::fuzz::MemoryFile input(data, size);
  if (!input.ok()) return 0;
  std::ostringstream log, listing;
  ostrel::DecodeOptions options;
  ostrel::DecodeFile(input.path(), OutputFolder() + "/out.wav", options, log);
  options.verbose = true;
  ostrel::PrintInfo(input.path(), options, listing, log);
  return 0;
}
