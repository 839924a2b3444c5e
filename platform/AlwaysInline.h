// OSTREL_ALWAYS_INLINE: an inline function that is inlined into every caller, for the small steps
// of the tightest loops (one symbol, a few bits). Builds with sanitizers otherwise find them too
// large to inline once their checks are in, call them out of line and pass their state through
// memory, checked at every access.
#pragma once

#if defined(__GNUC__)
#define OSTREL_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define OSTREL_ALWAYS_INLINE inline
#endif
