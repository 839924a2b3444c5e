// An owning handle on a stdio stream: the stream is closed when the handle goes.
#pragma once

#include <cstdio>
#include <memory>

namespace ostrel {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

// A holder that needs the result of fclose (a write error that shows only when the buffer is
// flushed) closes it itself: std::fclose(handle.release()).
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace ostrel
