// Runs when a host loads the plug-in: first the "BeatTracker" node type,
// then the module version, in this order, then the "BarPointerTracker"
// node type.
#include "BarPointerTracker.h"
#include "BeatTracker.h"
#include "tesk/NodeFactory.h"
#include "tesk/Object.h"

namespace {
const int beat_tracker_factory =
    TESK::Node::addFactory("BeatTracker", new TESK::NodeFactory<BeatTracker>("BeatTracker"));
const int module_version = TESK::Object::setModuleVersion("ZEDEDAZUV", "9156", "3.0.3");
const int bar_pointer_tracker_factory = TESK::Node::addFactory(
    "BarPointerTracker", new TESK::NodeFactory<BarPointerTracker>("BarPointerTracker"));
}  // namespace
