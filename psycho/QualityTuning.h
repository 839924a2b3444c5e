// Development aid: with OSTREL_QUALITY_TUNING defined, a tuning constant can be overridden from
// the environment (QT_<name>) to try values without rebuilding; otherwise it is the constant.
#pragma once

#ifdef OSTREL_QUALITY_TUNING
#include <cstdlib>
#define QUALITY_TUNABLE(name, value) \
  (std::getenv("QT_" #name) ? static_cast<float>(std::atof(std::getenv("QT_" #name))) : (value))
#else
#define QUALITY_TUNABLE(name, value) (value)
#endif
