// The bar-pointer model the "BarPointerTracker" node runs with, for the
// offline decoder to run the same.
#pragma once

#include "bar_pointer/Settings.h"
#include "tesk-music/pipeline/settings.h"

namespace tesk_pipeline {

bar_pointer::Settings barPointerSettings(const TrackerSettings& s);

}  // namespace tesk_pipeline
