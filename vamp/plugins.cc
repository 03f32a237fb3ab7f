// The entry point a Vamp host looks for in tesk-music.so.
#include <vamp-sdk/PluginAdapter.h>

#include "beat_tracker_plugin.h"

namespace {
Vamp::PluginAdapter<BeatTrackerPlugin> beat_tracker_adapter;
}

extern "C" const VampPluginDescriptor* vampGetPluginDescriptor(unsigned int version,
                                                               unsigned int index) {
  if (version < 1) return nullptr;
  return index == 0 ? beat_tracker_adapter.getDescriptor() : nullptr;
}
