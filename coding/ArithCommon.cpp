#include "coding/ArithCommon.h"

namespace ostrel {

uint32_t BuildCumCount(CumCountTable& Cum_Count, unsigned char Count, const unsigned char* Relative) {
  uint32_t Total = 0;
  Cum_Count[0] = 0;
  for (int i = 1; i <= Count; ++i) {
    Total += Relative[i - 1];
    Cum_Count[i] = Total;
  }
  for (int i = Count + 1; i < CUM_COUNT_SIZE; ++i) Cum_Count[i] = Total;
  return Total;
}

}  // namespace ostrel
