#include "engine/calibration.h"

#include "settings/engine_settings.h"

namespace mimicore {

CalibrationResult FinishCalibration(int32_t calMax, int32_t calMin) {
  const int64_t range = int64_t{calMax} - int64_t{calMin};
  if (range < 1) {
    return {false, DefaultEngineSettings.peakThreshold, DefaultEngineSettings.NThre,
            DefaultEngineSettings.oscilloDivisor};
  }
  // calMax and calMin are absolute sample values, so range fits easily.
  const double r = double(range);
  const double divisor = 32768.0 / (32768.0 / ((r + 1.0) * 1.5));
  double nthre = double(calMin) / r * 100.0 + 15.0;
  if (nthre > 100.0) {
    nthre = 100.0;
  }
  return {true, int32_t(range), int32_t(nthre), int32_t(divisor)};
}

}  // namespace mimicore
