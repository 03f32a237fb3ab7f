// What the pipeline throws. Every message is one line that names the
// setting at fault the way the command line names it ("--window 70000 ...").
#pragma once

#include <stdexcept>

namespace tesk_pipeline {

// Settings, a sample rate or a channel count the tracker cannot work with.
struct SettingsError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// The plug-in could not be found or loaded, or lacks the tracker's nodes.
struct PluginError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The node refused its settings or a frame; the message is the node's.
struct NodeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace tesk_pipeline
