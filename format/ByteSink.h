// Where a writing Bitstream sends its bytes when they do not go to a FILE: memory, a callback.
#pragma once

#include <cstddef>

namespace ostrel {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes `bytes` bytes at `data` (borrowed for the call). Returns false when they could not all
  // be taken; the writer then records a write failure.
  virtual bool Put(const unsigned char* data, std::size_t bytes) = 0;
};

}  // namespace ostrel
